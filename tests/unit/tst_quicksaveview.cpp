#include "QuickSaveModelAccess.h"
#include "QuietSavesClient.h"
#include "TestSupport.h"
#include "menubar/StatusItem.h"
#include "quicksave/ClampedLabel.h"
#include "quicksave/QuickSaveView.h"
#include "quicksave/RecentRow.h"
#include "quicksave/Symbol.h"

#include <QAccessible>
#include <QApplication>
#include <QEnterEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

namespace pinlark {

namespace {

SaveRow save(const QString& id, std::optional<QString> status, std::optional<QStringList> tags = {},
             std::optional<QString> platform = {},
             std::optional<QString> url = QStringLiteral("https://example.test/a")) {
    return {id,           url,  platform,    status, QStringLiteral("Title ") + id,
            std::nullopt, tags, std::nullopt};
}

// What the desktop offers for the shortcut, the answer to its question and what comes of it: the
// alerts shown and the keys the footer names.
struct Offer {
    QString offered{}, saveOffered{};
    int answer = 0;
    QString failure{};
    QStringList alerts{};
    QString keys{};
};

} // namespace

class TestQuickSaveView : public QObject {
    Q_OBJECT

    FakePlatform fakes;
    QStringList log;
    std::shared_ptr<QuietSavesClient> client;
    std::unique_ptr<QuickSaveModel> model;
    std::unique_ptr<QuickSaveView> view;

    template <typename T = QWidget> T* find(const QString& name) const {
        T* widget = view->findChild<T*>(name);
        return widget ? widget : throw std::runtime_error(name.toStdString());
    }
    bool shown(const QString& name) const { return find(name)->isVisibleTo(view.get()); }
    // The panel as shown, part by part: the Save button ("(off)" when disabled), what the status
    // section shows (symbols by name, buttons in brackets), and the recent saves or the text in
    // their place.
    QString panel() const {
        const auto* save = find<QPushButton>("save");
        QStringList parts{save->text() + (shown("busy") ? "busy" : "") +
                          (save->isEnabled() ? "" : " (off)")};
        QStringList status;
        for (const QWidget* part : find("status")->findChildren<QWidget*>()) {
            if (!part->isVisibleTo(view.get()))
                continue;
            if (const auto* symbol = qobject_cast<const Symbol*>(part))
                status << symbol->name();
            else if (const auto* label = qobject_cast<const QLabel*>(part))
                status << label->text();
            else if (const auto* button = qobject_cast<const QPushButton*>(part))
                status << "[" + button->text() + "]";
        }
        if (shown("status"))
            parts << status.join(' ');
        if (shown("recentList"))
            parts << QString::number(view->findChildren<RecentRow*>().size()) + " listed";
        if (shown("emptyText"))
            parts << find<QLabel>("emptyText")->text();
        return parts.join(" | ");
    }

private Q_SLOTS:
    void init() {
        TestState::reset();
        fakes = FakePlatform::install();
        fakes.cookieStore->cookies = {sessionCookie("t")};
        log.clear();
        client = std::make_shared<QuietSavesClient>();
        client->log = &log;
        model = std::make_unique<QuickSaveModel>(client);
        model->dismiss = [this] { log.append("dismiss"); };
        const auto say = [this](const char* what) { return [this, what] { log.append(what); }; };
        view = std::make_unique<QuickSaveView>(
            *model, QuickSaveView::Library{
                        say("show"), say("reload"), [this](const QUrl& url) {
                            log << "load " + url.toString() + ", cookies left: " +
                                       QString::number(fakes.cookieStore->cookies.size());
                        }});
    }
    void cleanup() {
        view.reset();
        model.reset();
    }

    // What the panel shows in each phase, above a list of one save (an empty list: see
    // menuCommands).
    void phases_data() {
        QTest::addColumn<Phase>("phase");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("panel");
        const auto add = [](const char* name, const Phase& phase, const char* url,
                            const char* panel) {
            QTest::newRow(name) << phase << QString::fromUtf8(url) << QString::fromUtf8(panel);
        };
        SaveRow unread = save("1", "error"), paywalled = unread;
        unread.error = "";
        paywalled.error = "Paywalled.";
        add("idle, spaces, tab", phase::Idle{}, " \t\u00A0", "Save (off)");
        add("saving", phase::Saving{}, "x", "busy (off)");
        add("done", phase::Done{save("1", "done"), false}, "x",
            "Save | checkmark.circle.fill Saved Title 1");
        add("done, error without text", phase::Done{unread, false}, "",
            "Save (off) | exclamationmark.triangle.fill Saved — filing it now That one couldn't "
            "be read.");
        add("already saved, error", phase::Done{paywalled, true}, "",
            "Save (off) | exclamationmark.triangle.fill Already in your library Paywalled.");
        add("failed", phase::Failed{"Not a link."}, "x",
            "Save | exclamationmark.circle.fill Not a link.");
        add("queued", phase::Queued{}, "",
            "Save (off) | clock.fill Saved on this computer It goes to your library when you're "
            "back online.");
        add("queued, in the service's words", phase::Queued{"Saving is paused."}, "",
            "Save (off) | clock.fill Saved on this computer Saving is paused. Pinlark keeps the "
            "link and sends it again.");
        // Several links (the button's count and the line under the field: see foundLine).
        phase::Many going{3, 1, 0, 0, 0, {}, true}, offline{3, 1, 0, 2, 0, {}, false};
        add("several, going", going, "", "busy (off) | clock.fill 1 of 3 saved…");
        add("several, offline", offline, "",
            "Save (off) | clock.fill 1 saved, 2 saved on this computer Those saved on this "
            "computer go to your library when you're back online.");
    }
    void phases() {
        QFETCH(Phase, phase);
        QFETCH(QString, url);
        QFETCH(QString, panel);
        QuickSaveModelAccess::setRecent(*model, {save("r", "done")});
        QuickSaveModelAccess::setPhase(*model, phase);
        model->setUrl(url);
        QCOMPARE(this->panel(), panel + " | 1 listed");
    }

    // The line under the field: the count and what was left out, or why nothing goes.
    void foundLine_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("line"); // empty: not shown
        QTest::addColumn<QString>("button");
        QString many;
        for (int i = 0; i < 150; ++i)
            many += u"https://e.test/%1 "_s.arg(i);
        QTest::newRow("one link") << u"https://a.test/"_s << QString() << u"Save"_s;
        QTest::newRow("two, one left out")
            << u"https://a.test/ ftp://b.test/ https://c.test/"_s
            << u"2 links, each saved once, in order; 1 word that isn't an http(s) link is left out."_s
            << u"Save 2 links"_s;
        QTest::newRow("too many")
            << many << u"150 links: at most 100 go in one save. Remove some to save them."_s
            << u"Save (off)"_s;
    }
    void foundLine() {
        QFETCH(QString, text);
        QFETCH(QString, line);
        QFETCH(QString, button);
        model->setUrl(text);
        const auto* save = find<QPushButton>("save");
        QCOMPARE(save->text() + (save->isEnabled() ? "" : " (off)"), button);
        QCOMPARE(shown("foundText"), !line.isEmpty());
        if (!line.isEmpty())
            QCOMPARE(find<ClampedLabel>("foundText")->text(), line);
    }

    // A long failure note stops at three lines, the last one ending in an ellipsis.
    void longTextsAreClamped() {
        const QString words = QStringLiteral("The page could not be read. ").repeated(12);
        QuickSaveModelAccess::setPhase(*model, phase::Failed{words});
        const QStringList lines = find<ClampedLabel>("failedNoteText")->lines(300);
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines.last().endsWith(QChar(0x2026)));
    }

    // Per row: its subtitle ("-" for none), whether it lights up under the pointer, whether a
    // click opens its link, and whether assistive technology takes it for a button.
    void recentRow_data() {
        QTest::addColumn<SaveRow>("row");
        QTest::addColumn<QString>("shown");
        const QString yt = QStringLiteral("YouTube");
        QTest::newRow("three tags")
            << save("1", "queued", QStringList{"a", "b", "c"}) << "a · b, lit, opened, button";
        QTest::newRow("error, no platform") << save("1", "error") << "-, lit, opened, button";
        QTest::newRow("empty first tag, queued")
            << save("1", "queued", QStringList{""}, yt) << "Reading it…, lit, opened, button";
        QTest::newRow("screenshot, done") << save("1", "done", {}, yt, "screenshot:1") << yt;
    }
    void recentRow() {
        QFETCH(SaveRow, row);
        QFETCH(QString, shown);
        RecentRow widget(row);
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QCoreApplication::sendEvent(&widget, &enter);
        widget.resize(widget.sizeHint());
        QTest::mouseClick(&widget, Qt::LeftButton);
        const bool opened = fakes.workspace->opened == QList<QUrl>{QUrl(*row.url)};
        const bool button =
            QAccessible::queryAccessibleInterface(&widget)->role() == QAccessible::Button;
        QCOMPARE(widget.subtitle().value_or("-") + (widget.isHovering() ? ", lit" : "") +
                     (opened ? ", opened" : "") + (button ? ", button" : ""),
                 shown);
    }

    // Focus starts in the field; Tab goes field → Save → openable rows → Open library → Set a
    // shortcut → menu. Return saves; Escape and Open library close the panel, the latter before
    // showing the library. Once a shortcut is registered, the footer names its keys instead of
    // offering to set one.
    void keyboard() {
        QuickSaveModelAccess::setRecent(
            *model, {save("a", "done"), save("b", "done", {}, {}, "screenshot:b"),
                     save("c", {}, {}, {}, u"https://example.test/c"_s)});
        model->setUrl(QStringLiteral("https://example.test/x"));
        view->show();
        QVERIFY(QTest::qWaitForWindowActive(view.get()));
        QStringList order;
        for (int i = 0; i < 8; ++i) {
            order << QApplication::focusWidget()->accessibleName();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QCOMPARE(order, (QStringList{"Link", "Save", "Title a", "Title c", "Open library",
                                     "Set a shortcut…", "More", "Link"}));
        QTest::keyClick(find("field"), Qt::Key_Return);
        QTest::keyClick(find("field"), Qt::Key_Escape);
        QTest::mouseClick(find("openLibrary"), Qt::LeftButton);
        QCOMPARE(log, (QStringList{"save https://example.test/x", "recent", "dismiss", "dismiss",
                                   "show"}));

        fakes.hotKeys->registerHotKey([] {});
        view->hide();
        view->show();
        QCOMPARE(find("openLibrary")->accessibleDescription(), "Alt+Super+L");
        QVERIFY(!shown("setShortcut"));
        QVERIFY(StatusItem::defaultToolTip().contains("Alt+Super+L"));
    }

    // "Set a shortcut…" closes the panel. Where the desktop can take a shortcut from the app, it
    // asks first and adds it only on yes; the footer then names its keys. A refusal explains why and how to add one
    // by hand; without an offer, only the explanation.
    void shortcutOffer_data() {
        QTest::addColumn<Offer>("offer");
        const QString s = u"Meta+Shift+S"_s, addS = u"Add Meta+Shift+S to GNOME's shortcuts?"_s;
        QTest::newRow("no offer") << Offer{.alerts = {"Set a shortcut for Pinlark"}};
        QTest::newRow("added") << Offer{.offered = s, .alerts = {addS}, .keys = s};
        QTest::newRow("declined")
            << Offer{.offered = s, .saveOffered = "Meta+Shift+V", .answer = 1,
                     .alerts = {"Add Meta+Shift+S and Meta+Shift+V to GNOME's shortcuts?"}};
        QTest::newRow("refused")
            << Offer{.offered = s, .failure = "The list is locked",
                     .alerts = {addS, "Pinlark couldn't add the shortcut"}};
    }
    void shortcutOffer() {
        QFETCH(Offer, offer);
        const auto& [offered, saveOffered, answer, failure, alerts, keys] = offer;
        fakes.hotKeys->offered = offered;
        fakes.hotKeys->saveOffered = saveOffered;
        fakes.hotKeys->failure = failure;
        fakes.alerts->answers = {answer};
        fakes.bundle->executable = u"/u/My Apps/Pinlark"_s;
        view->show();
        QTest::mouseClick(find("setShortcut"), Qt::LeftButton);
        QCOMPARE(log, QStringList{"dismiss"});
        QStringList messages;
        for (const Alert& alert : std::as_const(fakes.alerts->shown))
            messages << alert.message;
        QCOMPARE(messages, alerts);
        QVERIFY(fakes.alerts->shown.last().informativeText.contains(
            failure.isEmpty() && !offered.isEmpty() ? "Custom Shortcuts"
                                                    : "'/u/My Apps/Pinlark' --toggle-library"));
        QCOMPARE(find("openLibrary")->accessibleDescription(), keys);
        QCOMPARE(shown("setShortcut"), keys.isEmpty());
    }

    // The check mark of Open at login is the platform's registration, and the item turns it off.
    // Sign out deletes the session, loads the sign-in page without showing the window, then
    // refreshes the list, which finds no session: the panel asks to sign in. No command closes
    // the panel.
    void menuCommands() {
        fakes.loginItems->state = LoginItemService::Status::Enabled;
        QMetaObject::invokeMethod(view->menu(), "aboutToShow");
        QStringList titles; // "" for a divider, "[x]" for a check mark
        for (const QAction* action : view->menu()->actions())
            titles << action->text() + (action->isChecked() ? " [x]" : "");
        QCOMPARE(titles, (QStringList{"Reload library", "Open at login [x]", "", "Sign out", "",
                                      "Quit Pinlark"}));
        QCOMPARE(panel(), "Save (off) | Nothing saved yet.");
        fakes.cookieStore->cookies.append(QNetworkCookie("theme", "dark"));
        client->onRecent = [](int) -> QList<SaveRow> {
            throw APIError(QStringLiteral("unauthenticated"), QString());
        };
        QuickSaveModelAccess::setRecent(*model, {save("r", "done")});
        for (const int item : {0, 1, 3}) // Reload library, Open at login, Sign out
            view->menu()->actions().value(item)->trigger();
        // The whole sign-out, to its last step: the panel shows it signed out before that.
        QTRY_COMPARE(log, (QStringList{"reload", "load https://pinlark.app/signin, cookies left: 1",
                                       "recent"}));
        QCOMPARE(model->phase(), Phase(phase::SignedOut{}));
        QCOMPARE(fakes.loginItems->state, LoginItemService::Status::NotRegistered);
        QCOMPARE(panel(), "Save (off) | person.crop.circle Sign in to save. [Sign in] | Your "
                          "saves appear here once you're signed in.");
    }
};

} // namespace pinlark

QTEST_MAIN(pinlark::TestQuickSaveView)
#include "tst_quicksaveview.moc"
