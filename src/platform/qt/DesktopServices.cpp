#include "platform/qt/DesktopServices.h"

#include "platform/PropertyList.h"

#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QWidget>

namespace pinlark {

QCoro::Task<bool> DesktopWorkspace::openExternally(QUrl url) {
    co_return QDesktopServices::openUrl(url);
}

std::optional<QString> ClipboardPasteboard::string() const {
    const QString text = QGuiApplication::clipboard()->text();
    if (text.isNull())
        return std::nullopt;
    return text;
}

void ClipboardPasteboard::setString(const QString& text) {
    QGuiApplication::clipboard()->setText(text);
}

namespace {

// A message box that Escape and the close button end without an answer: QMessageBox would press
// a button of its choosing for them, or ignore them when it finds none.
class AlertBox : public QMessageBox {
protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->matches(QKeySequence::Cancel)) {
            reject();
            return;
        }
        QMessageBox::keyPressEvent(event);
    }
    void closeEvent(QCloseEvent* event) override { QDialog::closeEvent(event); }
};

} // namespace

int MessageBoxAlerts::run(const Alert& alert) {
    AlertBox box;
    // A dialog of the app's, named after it, that the desktop neither minimises nor maximises.
    box.setWindowTitle(QCoreApplication::applicationName());
    box.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                       Qt::WindowCloseButtonHint);
    box.setText(alert.message);
    box.setInformativeText(alert.informativeText);
    QList<QAbstractButton*> buttons;
    const QStringList titles =
        alert.buttons.isEmpty() ? QStringList{QStringLiteral("OK")} : alert.buttons;
    for (int i = 0; i < titles.size(); ++i) {
        const bool destructive = alert.destructive == i;
        QPushButton* button =
            box.addButton(titles[i], destructive         ? QMessageBox::DestructiveRole
                                     : buttons.isEmpty() ? QMessageBox::AcceptRole
                                                         : QMessageBox::RejectRole);
        if (!destructive && !box.defaultButton())
            box.setDefaultButton(button);
        buttons.append(button);
    }
    box.activateWindow();
    box.raise();
    // A quit (QCoreApplication::exit) ends this loop too, with the box still open and nothing
    // clicked.
    box.exec();
    const qsizetype chosen = buttons.indexOf(box.clickedButton());
    return chosen < 0 ? noAnswer : int(chosen);
}

QString ExecutableBundle::executablePath() const {
    return QCoreApplication::applicationFilePath();
}

QString ExecutableBundle::path() const {
    QDir dir = QFileInfo(executablePath()).absoluteDir();
    if (dir.dirName() == QLatin1String("MacOS")) {
        QDir contents = dir;
        if (contents.cdUp() && contents.dirName() == QLatin1String("Contents")) {
            QDir bundle = contents;
            if (bundle.cdUp() && bundle.dirName().endsWith(QLatin1String(".app")))
                return bundle.absolutePath();
        }
    }
    return dir.absolutePath();
}

std::optional<QString> ExecutableBundle::identifier() const {
    const QVariant id = info().value(QStringLiteral("CFBundleIdentifier"));
    if (id.typeId() == QMetaType::QString)
        return id.toString();
    return std::nullopt;
}

QVariantMap ExecutableBundle::info() const {
    return readPropertyList(path() + QLatin1String("/Contents/Info.plist"))
        .value_or(QVariant())
        .toMap();
}

void RecordedActivationPolicy::activate() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible()) {
            w->raise();
            w->activateWindow();
        }
    }
}

bool RecordedActivationPolicy::isActive() const {
    return QGuiApplication::applicationState() == Qt::ApplicationActive;
}

} // namespace pinlark
