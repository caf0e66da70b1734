#include "QuickSaveModelAccess.h"
#include "QuietSavesClient.h"
#include "TestSupport.h"
#include "menubar/StatusItem.h"
#include "platform/fake/FakePlatform.h"
#include "quicksave/QuickSaveView.h"
#include "quicksave/RecentRow.h"
#include "session/Connect.h"
#include "update/Installer.h"
#include "update/Updater.h"

#include <QLayout>
#include <QLineEdit>
#include <QMenu>

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
                              << "Pinlark — save a link (%1 for the library)";
        QTest::newRow("browser sign-in")
            << "signing in"
            << ""
            << "Waiting for the browser… (off); Sign Out; -; Open at Login; Install Updates "
               "Automatically [x]; Check for Updates…"
            << "Pinlark — save a link (%1 for the library)";
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
        QCOMPARE(item->tray()->toolTip(), tip.arg(QuickSaveView::libraryShortcutText()));
        const auto image = [](const QIcon& i) { return i.pixmap(QSize(16, 16), 1.0).toImage(); };
        QCOMPARE(image(item->tray()->icon()) == image(StatusItem::icon()), version.isEmpty());
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

    // The dot sits in the top-right corner inside a transparent ring; the rest is left alone.
    void badge() {
        QImage plain(16, 16, QImage::Format_ARGB32_Premultiplied);
        plain.fill(Qt::white);
        const QImage badged = StatusItem::withBadge(plain);
        const auto at = [&](qreal x, qreal y) { return badged.pixelColor(int(x), int(y)); };
        QCOMPARE(at(12.5, 3.5), QColor(Qt::black));
        QCOMPARE_LT(at(8.5, 3.5).alpha(), 64);
        QCOMPARE_LT(at(12.5, 7.5).alpha(), 64);
        QCOMPARE(at(6, 3.5), QColor(Qt::white));
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
