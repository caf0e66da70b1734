#include "QuickSaveModelAccess.h"
#include "QuietSavesClient.h"
#include "TestSupport.h"
#include "menubar/Popover.h"
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
#include <QSignalSpy>

namespace pinlark {

class TestStatusItem : public QObject {
    Q_OBJECT

    QTemporaryDir bundle;
    FakePlatform fakes;
    QStringList calls; // the service's, one "recent" per opening of the panel
    std::shared_ptr<QuietSavesClient> client;
    std::unique_ptr<StatusItem> item;
    static constexpr const char* glyphPath = PINLARK_TESTS_DIR "/../resources/MenuBarIcon.png";

private Q_SLOTS:
    void init() {
        TestState::reset();
        fakes = FakePlatform::install();
        fakes.bundle->bundlePath = bundle.path();
        QVERIFY(
            writeFile(bundle.path() + "/Contents/Resources/MenuBarIcon.png", readFile(glyphPath)));
        calls.clear();
        QFile::remove(Outbox::standardPath());
        client = std::make_shared<QuietSavesClient>();
        client->log = &calls;
        item = std::make_unique<StatusItem>(client);
    }
    void cleanup() { item.reset(); }

    // "Save Copied Link": the clipboard's links saved now, the panel left closed, the result
    // told by a notification; where none can be posted, by the tooltip, and the panel's next
    // opening shows it too.
    void saveCopiedLink_data() {
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<QString>("answer"); // saved, existing, offline, signed out
        QTest::addColumn<QString>("told");   // title: body
        QTest::addColumn<int>("posts");
        const QString a = u"https://a.test/"_s, nothing = u"Nothing saved: The clipboard "_s;
        const auto row = [](const char* name, const char* answer, const QString& told,
                            int posts = 1, const QString& clipboard = u"https://a.test/"_s) {
            QTest::newRow(name) << clipboard << QString(answer) << told << posts;
        };
        row("saved", "saved", "Saved: " + a);
        row("already saved", "existing", "Already in your library: " + a);
        row("offline", "offline",
            "Saved on this computer: " + a + "\nIt goes to your library when you're back online.");
        row("several", "saved", u"Links saved: 2 saved"_s, 2, a + "\nhttps://b.test/ " + a);
        row("signed out", "signed out",
            u"Sign in to save: Pinlark keeps the link until you sign in."_s, 0);
        row("no link", "saved", nothing + "holds no http or https link.", 0, u"just words"_s);
        row("empty", "saved", nothing + "is empty.", 0, QString());
        QString many;
        for (int i = 0; i < 120; ++i)
            many += u"https://e.test/%1 "_s.arg(i);
        row("too many", "saved", nothing + "holds 120 links: at most 100 go in one save.", 0, many);
    }
    void saveCopiedLink() {
        QFETCH(QString, clipboard);
        QFETCH(QString, answer);
        QFETCH(QString, told);
        QFETCH(int, posts);
        if (answer != "signed out"_L1)
            fakes.cookieStore->cookies = {sessionCookie("t")};
        fakes.pasteboard->text = clipboard;
        client->onSave = [&](const QString&) -> SaveOutcome {
            if (answer == "offline"_L1)
                throw APIError::offline();
            return {u"s1"_s, answer == "existing"_L1};
        };
        item->saveCopiedLink();
        QTRY_COMPARE(fakes.notifications->added.size(), 1);
        const NotificationRequest& note = fakes.notifications->added.first();
        QCOMPARE(note.title + ": " + note.body, told);
        // The save's own posts, before the refresh that ends it (which starts an outbox round).
        QCOMPARE(calls.mid(0, calls.indexOf(u"recent"_s)).filter(u"save "_s).size(), posts);
        QVERIFY(!item->popover()->isVisible());

        // No notification server: the tooltip says it.
        fakes.notifications->authorizationError = u"no server"_s;
        fakes.pasteboard->text = u"nothing"_s;
        item->saveCopiedLink();
        QTRY_VERIFY(item->tray()->toolTip().endsWith(
            u"Nothing saved: The clipboard holds no http or https link."_s));
    }

    // What a click opens; an opened panel is then closed by `close`, after which the model
    // must have heard of it (a finished save is forgotten). Closed, the panel or the menu says
    // the item is free again, once.
    void clicks_data() {
        QTest::addColumn<QSystemTrayIcon::ActivationReason>("reason");
        QTest::addColumn<bool>("control");
        QTest::addColumn<QString>("opens");
        QTest::addColumn<QString>("close");
        const auto row = [](const char* name, QSystemTrayIcon::ActivationReason reason,
                            bool control, const char* opens, const char* close = "") {
            QTest::newRow(name) << reason << control << QString(opens) << QString(close);
        };
        row("click", QSystemTrayIcon::Trigger, false, "panel", "click");
        row("second click of two", QSystemTrayIcon::DoubleClick, false, "panel", "dismiss");
        row("click, then outside", QSystemTrayIcon::Trigger, false, "panel", "outside");
        row("control-click", QSystemTrayIcon::Trigger, true, "menu");
        row("right click", QSystemTrayIcon::Context, false, "menu");
        row("middle click", QSystemTrayIcon::MiddleClick, false, "");
    }
    void clicks() {
        QFETCH(QSystemTrayIcon::ActivationReason, reason);
        QFETCH(bool, control);
        QFETCH(QString, opens);
        QFETCH(QString, close);
        QSignalSpy released(item.get(), &StatusItem::released);
        item->clicked(reason, control ? Qt::ControlModifier : Qt::NoModifier);
        QCOMPARE(item->popover()->isVisible(), opens == "panel");
        QCOMPARE(item->tray()->contextMenu()->isVisible(), opens == "menu");
        QCOMPARE(item->inUse(), !opens.isEmpty());
        QCOMPARE(calls.count("recent"), opens == "panel" ? 1 : 0);
        if (opens == "menu") {
            item->tray()->contextMenu()->hide();
            QVERIFY(!item->inUse());
            QCOMPARE(released.count(), 1);
        }
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
        QCOMPARE(released.count(), 1);
    }

    // Each state as the menu's rows between the first three and the last two ("[x]" a check
    // mark, "(off)" disabled), the tooltip and whether the icon has the dot. With an update
    // available the app is also registered to open at login and automatic updates are off.
    void state_data() {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("rows");
        QTest::addColumn<QString>("tip");
        const auto row = [](const char* state, const QString& rows, const char* tip) {
            QTest::newRow(state) << QString(state) << rows << QString(tip);
        };
        const char* idleTip = "Pinlark — save a link";
        const QString account = u"Sign In…; Sign Out; -; "_s,
                      options = u"Open at Login; Install Updates Automatically [x]; "_s;
        row("idle", account + options + "Check for Updates…", idleTip);
        row("signing in",
            "Waiting for the browser… (off); Sign Out; -; " + options + "Check for Updates…",
            idleTip);
        row("update available",
            account + "Open at Login [x]; Install Updates Automatically; Update to 2.0… (bold)",
            "Pinlark 2.0 is available — click for the menu");
        row("installing", account + options + "Installing update… (off)",
            "Pinlark is downloading an update — it will restart itself");
    }
    void state() {
        QFETCH(QString, state);
        QFETCH(QString, rows);
        QFETCH(QString, tip);
        const bool dot = state == "update available" || state == "installing";
        if (dot)
            Updater::s_availableVersion = "2.0";
        Connect::s_isRunning = state == "signing in";
        Installer::s_busy = state == "installing";
        if (state == "update available") {
            fakes.loginItems->state = LoginItemService::Status::Enabled;
            fakes.defaults->set("autoUpdate", false);
        }
        QMenu* menu = item->tray()->contextMenu();
        const QList<QAction*> rowsBefore = menu->actions();
        (Installer::s_busy ? Installer::onChange : Updater::onChange)();
        // Hosts that mirror the menu keep its rows: they change in place, also as it opens.
        QCOMPARE(item->tray()->contextMenu(), menu);
        QCOMPARE(menu->actions(), rowsBefore);
        Q_EMIT menu->aboutToShow();
        QCOMPARE(menu->actions(), rowsBefore);
        QStringList shown; // the tray's menu, kept current for hosts that read it unopened
        for (const QAction* a : menu->actions())
            if (a->isVisible())
                shown << (a->isSeparator() ? "-" : a->text()) + (a->isChecked() ? " [x]" : "") +
                             (a->isEnabled() ? "" : " (off)") + (a->font().bold() ? " (bold)" : "");
        QCOMPARE(shown.join("; "), "Open Library; Quick Save…; Save Copied Link; -; " + rows + "; -; Quit Pinlark");
        QCOMPARE(item->tray()->toolTip(), tip);
        const auto image = [](const QIcon& i) { return i.pixmap(QSize(16, 16), 1.0).toImage(); };
        QCOMPARE(image(item->tray()->icon()) != image(item->trayIcon(false)), dot);
    }

    // The panel lists the links in the outbox first, newest first, each once, greyed and not
    // openable, with what each waits for: the connection, the user's word on a link of another
    // account, a sign-in. The menu (the tray's, before it is opened again) says how many the
    // current session may send, disabled.
    void waitingLinks() {
        // Unreachable: the refresh at each sign-in sends what it may, and it stays.
        client->onSave = [](const QString&) -> SaveOutcome { throw APIError::offline(); };
        for (const QString link : {"a", "https://a.test/", "https://b.test/", "https://a.test/",
                                   "b", "https://c.test/"}) {
            if (link.size() == 1) { // a session, the next links' own
                fakes.cookieStore->cookies = {sessionCookie(link.toUtf8())};
                runTask(item->outbox().refreshSession());
            } else {
                QVERIFY(item->outbox().add(link));
            }
        }
        // Saved under b, as the refresh at b's sign-in would list them.
        QuickSaveModelAccess::setRecent(
            item->model(), {SaveRow{"1", "https://s.test/", {}, "done", "Title", {}, {}, {}}});
        const auto rows = [this] {
            QStringList rows;
            const QLayout* list = item->popover()->findChild<QWidget*>("recentList")->layout();
            for (int i = 0; i < list->count(); ++i) {
                const auto* row = qobject_cast<RecentRow*>(list->itemAt(i)->widget());
                rows << row->text() + ", " + row->subtitle().value_or("") +
                            (row->isOpenable() ? "" : " (closed)");
            }
            return rows;
        };
        const QAction* menu = item->tray()->contextMenu()->actions().value(3);
        QVERIFY(menu->isVisible());
        QCOMPARE(rows() << menu->text() + (menu->isEnabled() ? "" : " (off)"),
                 (QStringList{"c.test, Waiting for the connection (closed)",
                              "b.test, Saved under another account (closed)",
                              "a.test, Saved under another account (closed)", "Title, ",
                              "Saving 1 link… (off)"}));
        // Signed out, every link waits for a sign-in.
        item->outbox().setSession(std::nullopt);
        QCOMPARE(rows().mid(0, 3), (QStringList{"c.test, Waiting for you to sign in (closed)",
                                                "b.test, Waiting for you to sign in (closed)",
                                                "a.test, Waiting for you to sign in (closed)"}));
    }

    // Whatever the desktop prefers, the glyph and the update dot stand out from a black panel
    // and from a white one, the glyph over the 16 pixels of a symbolic icon beside it in a larger
    // slot, in height, or in width for artwork wider than tall, which keeps its proportions.
    void readsOnAnyPanel_data() {
        QTest::addColumn<QImage>("glyph");
        QTest::addColumn<qreal>("ratio"); // width to height, drawn
        QTest::newRow("the app's glyph") << QImage(glyphPath) << 0.65;
        QImage wide(48, 32, QImage::Format_ARGB32);
        wide.fill(Qt::black);
        QTest::newRow("1.5:1 artwork") << wide << 1.5;
    }
    void readsOnAnyPanel() {
        QFETCH(QImage, glyph);
        QFETCH(qreal, ratio);
        for (const auto scheme :
             {TrayIcon::Scheme::Unknown, TrayIcon::Scheme::Dark, TrayIcon::Scheme::Light}) {
            for (const QRgb panel : {qRgb(0, 0, 0), qRgb(255, 255, 255)}) {
                const auto onPanel = [&](bool badge) {
                    QImage image(22, 22, QImage::Format_RGB32);
                    image.fill(panel);
                    QPainter(&image).drawImage(0, 0,
                                               TrayIcon::draw(glyph, {22, 22}, 1, badge, scheme));
                    return image;
                };
                const QImage plain = onPanel(false), badged = onPanel(true);
                int shape = 0, dot = 0; // the dot is in the top-right corner
                QRect drawn;
                for (int y = 0; y < 22; ++y) {
                    for (int x = 0; x < 22; ++x) {
                        const QRgb a = plain.pixel(x, y), b = badged.pixel(x, y);
                        if (qAbs(qGray(a) - qGray(panel)) > 100)
                            ++shape, drawn |= QRect(x, y, 1, 1);
                        dot += x > 11 && y < 11 && qAbs(qGray(b) - qGray(panel)) > 100 && b != a;
                    }
                }
                QCOMPARE_GT(shape, 40);
                // 14 pixels of glyph, 16 with the outline where it stands out from the panel.
                QCOMPARE_GE(std::max(drawn.width(), drawn.height()), 14);
                QCOMPARE_LE(std::max(drawn.width(), drawn.height()), 16);
                QCOMPARE_LT(qAbs(qreal(drawn.width()) / drawn.height() - ratio), 0.2);
                QCOMPARE_GT(dot, 12);
            }
        }
    }

    // A host that picks one of the icon's pictures and scales it to its 16 pixels shows the
    // glyph over most of them, whichever it picks.
    void scaledByTheHost() {
        const QIcon icon = TrayIcon::make(QImage(glyphPath), false, {});
        for (const QSize& size : icon.availableSizes()) {
            const QImage shown = icon.pixmap(size).toImage().scaled(16, 16, Qt::KeepAspectRatio,
                                                                    Qt::SmoothTransformation);
            int rows = 0;
            for (int y = 0; y < shown.height(); ++y)
                for (int x = 0; x < shown.width(); ++x)
                    if (qAlpha(shown.pixel(x, y)) > 128) {
                        ++rows;
                        break;
                    }
            QVERIFY2(rows >= 13, qPrintable(QString::number(size.width())));
        }
    }

    // Hosts that load icons by name take the installed symbolic icon, but not while the dot must
    // show.
    void namedWhenTheThemeHasIt() {
        QTemporaryDir icons;
        QVERIFY(writeFile(icons.path() + "/hicolor/index.theme",
                          "[Icon Theme]\nName=hicolor\nDirectories=symbolic/apps\n"
                          "[symbolic/apps]\nSize=16\nType=Scalable\n"));
        const QImage glyph(glyphPath);
        QCOMPARE(TrayIcon::make(glyph, false, {}).name(), QString());
        const QString svg = TrayIcon::themeName() + ".svg";
        QVERIFY(writeFile(icons.path() + "/hicolor/symbolic/apps/" + svg,
                          readFile(PINLARK_TESTS_DIR "/../resources/icons/" + svg)));
        QIcon::setThemeSearchPaths({icons.path()});
        QIcon::setThemeName("hicolor");
        QCOMPARE(TrayIcon::make(glyph, false, {}).name(), TrayIcon::themeName());
        QCOMPARE(TrayIcon::make(glyph, true, {}).name(), QString());
    }

    // Clicked on an icon whose place is not known, the panel opens off the bar the pointer is
    // on, beside the pointer, as it does under an icon of known place; inside the work area, at
    // the pointer.
    void underThePointer_data() {
        QTest::addColumn<QRect>("available"); // of a screen of 1280x800
        QTest::addColumn<QPoint>("pointer");
        QTest::addColumn<QPoint>("at"); // the panel's top left corner, for a panel of 300x100
        QTest::newRow("top bar") << QRect(0, 26, 1280, 774) << QPoint(1262, 13) << QPoint(980, 30);
        QTest::newRow("bottom bar")
            << QRect(0, 0, 1280, 770) << QPoint(600, 785) << QPoint(450, 666);
        QTest::newRow("left bar") << QRect(48, 0, 1232, 800) << QPoint(20, 400) << QPoint(48, 405);
        QTest::newRow("no bar") << QRect(0, 0, 1280, 800) << QPoint(600, 300) << QPoint(450, 305);
    }
    void underThePointer() {
        QFETCH(QRect, available);
        QFETCH(QPoint, pointer);
        QFETCH(QPoint, at);
        const QRect anchor = Popover::pointerAnchor(pointer, QRect(0, 0, 1280, 800), available);
        QCOMPARE(Popover::placement(QSize(300, 100), anchor, available).topLeft(), at);
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
