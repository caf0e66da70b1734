// The yardstick of bench_startup: about the least a Qt Widgets tray utility does before its icon
// shows. The application object, the icon drawn as Pinlark draws its own from the same glyph, a
// QSystemTrayIcon shown; nothing else.
//
//   tray_baseline GLYPH.png

#include "menubar/TrayIcon.h"

#include <QApplication>
#include <QSystemTrayIcon>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const QImage glyph(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString(), "PNG");
    QSystemTrayIcon tray(pinlark::TrayIcon::make(glyph, false, pinlark::TrayIcon::Scheme::Unknown));
    tray.show();
    return app.exec();
}
