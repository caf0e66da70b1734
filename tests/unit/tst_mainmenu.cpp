#include "app/MainMenu.h"

#include <QMenu>
#include <QMenuBar>
#include <QTest>

using namespace pinlark;

class TestMainMenu : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Each item as "title | key", "-" for a separator, "(off)" for one disabled on Linux.
    void menu_data() {
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("application")
            << 0 << "Pinlark"
            << QStringList{
                   "About Pinlark",  "-", "Hide Pinlark | Ctrl+H", "Hide Others | Ctrl+Alt+H (off)",
                   "Show All (off)", "-", "Quit Pinlark | Ctrl+Q"};
        QTest::newRow("edit") << 1 << "Edit"
                              << QStringList{
                                     "Undo | Ctrl+Z",      "Redo | Ctrl+Shift+Z", "-",
                                     "Cut | Ctrl+X",       "Copy | Ctrl+C",       "Paste | Ctrl+V",
                                     "Select All | Ctrl+A"};
        QTest::newRow("view") << 2 << "View"
                              << QStringList{"Reload | Ctrl+R", "Saves | Ctrl+0", "-",
                                             "Back | Ctrl+[", "Forward | Ctrl+]"};
        QTest::newRow("window") << 3 << "Window"
                                << QStringList{"Minimize | Ctrl+M", "Close | Ctrl+W"};
    }
    void menu() {
        QFETCH(int, position);
        QFETCH(QString, title);
        QFETCH(QStringList, items);
        const std::unique_ptr<QMenuBar> bar(buildMainMenu());
        QCOMPARE(bar->actions().size(), 4);
        const QMenu* menu = bar->actions().at(position)->menu();
        QCOMPARE(menu->title(), title);
        QStringList actual;
        for (const QAction* item : menu->actions()) {
            const QString key = item->shortcut().toString(QKeySequence::PortableText);
            actual << (item->isSeparator() ? QStringLiteral("-")
                                           : item->text() + (key.isEmpty() ? "" : " | " + key) +
                                                 (item->isEnabled() ? "" : " (off)"));
        }
        QCOMPARE(actual, items);
    }
};

QTEST_MAIN(TestMainMenu)
#include "tst_mainmenu.moc"
