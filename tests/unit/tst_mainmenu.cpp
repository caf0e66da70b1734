#include "app/MainMenu.h"

#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include <memory>

using namespace pinlark;

// Each menu as "title" or "title | key" per item, "-" for a separator, "(off)" for an item that
// stays disabled on Linux.
class TestMainMenu : public QObject {
    Q_OBJECT
private Q_SLOTS:
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
        std::unique_ptr<QMenuBar> bar(buildMainMenu());
        QCOMPARE(bar->actions().size(), 4);
        QMenu* menu = bar->actions().at(position)->menu();
        QVERIFY(menu);
        QCOMPARE(menu->title(), title);
        QStringList actual;
        for (const QAction* item : menu->actions()) {
            if (item->isSeparator()) {
                actual << QStringLiteral("-");
                continue;
            }
            QString row = item->text();
            if (!item->shortcut().isEmpty())
                row +=
                    QStringLiteral(" | ") + item->shortcut().toString(QKeySequence::PortableText);
            if (!item->isEnabled())
                row += QStringLiteral(" (off)");
            actual << row;
        }
        QCOMPARE(actual, items);
    }
};

QTEST_MAIN(TestMainMenu)
#include "tst_mainmenu.moc"
