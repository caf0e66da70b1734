#include "QuickSaveModelAccess.h"
#include "QuietSavesClient.h"
#include "TestSupport.h"
#include "menubar/StatusItem.h"
#include "menubar/TrayIcon.h"
#include "platform/fake/FakePlatform.h"
#include "quicksave/QuickSaveView.h"
#include "quicksave/RecentRow.h"
#include "session/Connect.h"
#include "update/Installer.h"
#include "update/Updater.h"

#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>

namespace pinlark {

class TestStatusItem : public QObject {
    Q_OBJECT

    QTemporaryDir bundle;
    FakePlatform fakes;
    QStringList calls; // the service's, one "recent" per opening of the panel
    std::unique_ptr<StatusItem> item;

private Q_SLOTS:
    void init() {
        TestState::reset();
        fakes = FakePlatform::install();
        fakes.bundle->bundlePath = bundle.path();
        QDir(bundle.path()).mkpath("Contents/Resources");
        QFile::copy(PINLARK_TESTS_DIR "/../resources/MenuBarIcon.png",
                    bundle.path() + "/Contents/Resources/MenuBarIcon.png");
        calls.clear();
        QFile::remove(Outbox::standardPath());
        auto client = std::make_shared<QuietSavesClient>();
        client->log = &calls;
        item = std::make_unique<StatusItem>(client);
    }
    void cleanup() { item.reset(); }

    // What a click opens; an opened panel is then closed by `close`, after which the model
    // must have heard of it (a finished save is forgotten).
    void clicks_data() {
        QTest::addColumn<QSystemTrayIcon::ActivationReason>("reason");
        QTest::addColumn<bool>("control");
        QTest::addColumn<QString>("opens");
        QTest::addColumn<QString>("close");
        QTest::newRow("click") << QSystemTrayIcon::Trigger << false << "panel"
                               << "click";
        QTest::newRow("second click of two") << QSystemTrayIcon::DoubleClick << false << "panel"
                                             << "dismiss";
        QTest::newRow("click, then outside") << QSystemTrayIcon::Trigger << false << "panel"
                                             << "outside";
        QTest::newRow("control-click") << QSystemTrayIcon::Trigger << true << "menu"
                                       << "";
        QTest::newRow("right click") << QSystemTrayIcon::Context << false << "menu"
                                     << "";
        QTest::newRow("middle click") << QSystemTrayIcon::MiddleClick << false << ""
                                      << "";
    }
    void clicks() {
        QFETCH(QSystemTrayIcon::ActivationReason, reason);
        QFETCH(bool, control);
        QFETCH(QString, opens);
        QFETCH(QString, close);
        item->clicked(reason, control ? Qt::ControlModifier : Qt::NoModifier);
        QCOMPARE(item->popover()->isVisible(), opens == "panel");
        QCOMPARE(item->tray()->contextMenu()->isVisible(), opens == "menu");
        QCOMPARE(calls.count("recent"), opens == "panel" ? 1 : 0);
        if (close.isEmpty())
            return;
        QuickSaveModelAccess::setPhase(item->model(), phase::Done{SaveRow{}, false});
        if (close == "click")
            Q_EMIT item->tray()->activated(reason);
        else if (close == "dismiss")
            item->model().dismiss();
        else
            QTest::mouseClick(item->popover(), Qt::LeftButton, {}, QPoint(-20, -20));
        QVERIFY(!item->popover()->isVisible());
        QVERIFY(std::holds_alternative<phase::Idle>(item->model().phase()));
    }

    // Each state as the menu's rows between the first three and the last two ("[x]" a check
    // mark, "(off)" disabled), the tooltip and whether the icon has the dot. "settings":
    // registered to open at login, automatic updates turned off.
    void state_data() {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("rows");
        QTest::addColumn<QString>("tip");
        QTest::newRow("idle") << ""
                              << ""
                              << "Sign In…; Sign Out; -; Open at Login; Install Updates "
                                 "Automatically [x]; Check for Updates…"
                              << "Pinlark — save a link";
        QTest::newRow("browser sign-in")
            << "signing in"
            << ""
            << "Waiting for the browser… (off); Sign Out; -; Open at Login; Install Updates "
               "Automatically [x]; Check for Updates…"
            << "Pinlark — save a link";
        QTest::newRow("update available")
            << "settings"
            << "2.0"
            << "Sign In…; Sign Out; -; Open at Login [x]; Install Updates Automatically; "
               "Update to 2.0… (bold)"
            << "Pinlark 2.0 is available — click for the menu";
        QTest::newRow("installing")
            << "installing"
            << "2.0"
            << "Sign In…; Sign Out; -; Open at Login; Install Updates Automatically [x]; "
               "Installing update… (off)"
            << "Pinlark is downloading an update — it will restart itself";
    }
    void state() {
        QFETCH(QString, state);
        QFETCH(QString, version);
        QFETCH(QString, rows);
        QFETCH(QString, tip);
        if (!version.isEmpty())
            Updater::s_availableVersion = version;
        Connect::s_isRunning = state == "signing in";
        Installer::s_busy = state == "installing";
        if (state == "settings") {
            fakes.loginItems->state = LoginItemService::Status::Enabled;
            fakes.defaults->set("autoUpdate", false);
        }
        (Installer::s_busy ? Installer::onChange : Updater::onChange)();
        const std::unique_ptr<QMenu> menu(item->buildMenu());
        QStringList shown;
        for (const QAction* a : menu->actions())
            shown << (a->isSeparator() ? "-" : a->text()) + (a->isChecked() ? " [x]" : "") +
                         (a->isEnabled() ? "" : " (off)") + (a->font().bold() ? " (bold)" : "");
        QCOMPARE(shown.join("; "), "Open Library; Quick Save…; -; " + rows + "; -; Quit Pinlark");
        QCOMPARE(item->tray()->toolTip(), tip);
        const auto image = [](const QIcon& i) { return i.pixmap(QSize(16, 16), 1.0).toImage(); };
        QCOMPARE(image(item->tray()->icon()) == image(item->trayIcon(false)), version.isEmpty());
    }

    // The panel lists the links in the outbox first, newest first, each once, greyed and not
    // openable; the menu (the tray's, before it is opened again) says how many, disabled.
    void waitingLinks() {
        QuickSaveModelAccess::setRecent(
            item->model(), {SaveRow{"1", "https://s.test/", {}, "done", "Title", {}, {}, {}}});
        for (const QString link : {"https://a.test/", "https://b.test/", "https://a.test/"})
            QVERIFY(item->outbox().add(link));
        QStringList rows;
        const QLayout* list = item->popover()->findChild<QWidget*>("recentList")->layout();
        for (int i = 0; i < list->count(); ++i) {
            const auto* row = qobject_cast<RecentRow*>(list->itemAt(i)->widget());
            rows << row->text() + ", " + row->subtitle().value_or("") +
                        (row->isOpenable() ? "" : " (closed)");
        }
        const QAction* menu = item->tray()->contextMenu()->actions().value(2);
        rows << menu->text() + (menu->isEnabled() ? "" : " (off)");
        QCOMPARE(rows, (QStringList{"b.test, Waiting for the connection (closed)",
                                    "a.test, Waiting for the connection (closed)", "Title, ",
                                    "Saving 2 links… (off)"}));
    }

    // Whatever the desktop prefers, the glyph and the update dot stand out from a black panel
    // and from a white one.
    void readsOnAnyPanel_data() {
        QTest::addColumn<TrayIcon::Scheme>("scheme");
        QTest::newRow("no preference") << TrayIcon::Scheme::Unknown;
        QTest::newRow("dark") << TrayIcon::Scheme::Dark;
        QTest::newRow("light") << TrayIcon::Scheme::Light;
    }
    void readsOnAnyPanel() {
        QFETCH(TrayIcon::Scheme, scheme);
        const QImage glyph(PINLARK_TESTS_DIR "/../resources/MenuBarIcon.png");
        for (const QRgb panel : {qRgb(0, 0, 0), qRgb(255, 255, 255)}) {
            QList<QImage> shown;
            for (const bool badge : {false, true}) {
                QImage image(22, 22, QImage::Format_RGB32);
                image.fill(panel);
                QPainter(&image).drawImage(0, 0, TrayIcon::draw(glyph, {22, 22}, 1, badge, scheme));
                shown.append(image);
            }
            const auto standsOut = [panel](QRgb pixel) {
                return qAbs(qGray(pixel) - qGray(panel)) > 100;
            };
            int glyph = 0, dot = 0; // the dot is in the top-right corner
            for (int y = 0; y < 22; ++y) {
                for (int x = 0; x < 22; ++x) {
                    glyph += standsOut(shown[0].pixel(x, y));
                    dot += x > 11 && y < 11 && standsOut(shown[1].pixel(x, y)) &&
                           shown[1].pixel(x, y) != shown[0].pixel(x, y);
                }
            }
            QCOMPARE_GT(glyph, 40);
            QCOMPARE_GT(dot, 12);
        }
    }

    // Hosts that load icons by name take the installed symbolic icon, but not while the dot must
    // show.
    void namedWhenTheThemeHasIt() {
        QTemporaryDir icons;
        QDir(icons.path()).mkpath("hicolor/symbolic/apps");
        QFile index(icons.path() + "/hicolor/index.theme");
        QVERIFY(index.open(QIODevice::WriteOnly));
        index.write("[Icon Theme]\nName=hicolor\nDirectories=symbolic/apps\n[symbolic/apps]\n"
                    "Size=16\nType=Scalable\n");
        index.close();
        const QImage glyph(PINLARK_TESTS_DIR "/../resources/MenuBarIcon.png");
        QCOMPARE(TrayIcon::make(glyph, false, {}).name(), QString());
        QVERIFY(
            QFile::copy(PINLARK_TESTS_DIR "/../resources/icons/" + TrayIcon::themeName() + ".svg",
                        icons.path() + "/hicolor/symbolic/apps/" + TrayIcon::themeName() + ".svg"));
        QIcon::setThemeSearchPaths({icons.path()});
        QIcon::setThemeName("hicolor");
        QCOMPARE(TrayIcon::make(glyph, false, {}).name(), TrayIcon::themeName());
        QCOMPARE(TrayIcon::make(glyph, true, {}).name(), QString());
    }

    // A link given replaces what the clipboard put into the field; an open panel only takes it.
    void showWithLink() {
        fakes.pasteboard->text = "https://example.test/clip";
        for (const QString link : {"https://example.test/a", "https://example.test/b"}) {
            item->showPopover(QUrl(link));
            QCOMPARE(item->popover()->findChild<QLineEdit*>("field")->text(), link);
        }
        QCOMPARE(calls.count("recent"), 1);
    }
};

} // namespace pinlark

QTEST_MAIN(pinlark::TestStatusItem)
#include "tst_statusitem.moc"
