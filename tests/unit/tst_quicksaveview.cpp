#include "QuickSaveModelAccess.h"
#include "QuietSavesClient.h"
#include "TestSupport.h"
#include "loginitem/LoginItem.h"
#include "menubar/StatusItem.h"
#include "quicksave/ClampedLabel.h"
#include "quicksave/QuickSaveView.h"
#include "quicksave/RecentRow.h"
#include "quicksave/Symbol.h"

#include <QApplication>
#include <QEnterEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

Q_DECLARE_METATYPE(pinlark::Phase)
Q_DECLARE_METATYPE(pinlark::SaveRow)

namespace pinlark {

namespace {

SaveRow save(const QString& id, std::optional<QString> status, std::optional<QStringList> tags = {},
             std::optional<QString> platform = {},
             std::optional<QString> url = QStringLiteral("https://example.test/a")) {
    return {id,           url,  platform,    status, QStringLiteral("Title ") + id,
            std::nullopt, tags, std::nullopt};
}

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
    QList<RecentRow*> rows() const { return view->findChildren<RecentRow*>(); }
    // Opens the menu as the user would: its titles ("" for a divider), or the item `title`.
    QStringList openMenu() {
        QMetaObject::invokeMethod(view->menu(), "aboutToShow");
        QStringList titles;
        for (const QAction* action : view->menu()->actions())
            titles << action->text();
        return titles;
    }
    QAction* item(const QString& title) {
        const auto index = openMenu().indexOf(title);
        return view->menu()->actions().value(int(index));
    }
    // The status section as shown: per visible part, its symbol and texts.
    QStringList status() const {
        QStringList shownParts;
        for (const QString part : {"saved", "failedNote", "signInNote"}) {
            const auto* symbol = find<Symbol>(part + QStringLiteral("Symbol"));
            if (!symbol->isVisibleTo(view.get()))
                continue;
            shownParts << symbol->name();
            for (const QLabel* label : symbol->parentWidget()->findChildren<QLabel*>())
                shownParts << label->text();
        }
        return shownParts;
    }

private Q_SLOTS:
    void init() {
        TestState::reset();
        fakes = FakePlatform::install();
        log.clear();
        client = std::make_shared<QuietSavesClient>();
        client->log = &log;
        model = std::make_unique<QuickSaveModel>(client);
        model->dismiss = [this] { log.append(QStringLiteral("dismiss")); };
        view = std::make_unique<QuickSaveView>(
            *model,
            QuickSaveView::Library{[this] { log.append(QStringLiteral("show")); },
                                   [this] { log.append(QStringLiteral("reload")); },
                                   [this](const QUrl& url) {
                                       log.append(QStringLiteral("load %1, cookies left: %2")
                                                      .arg(url.toString())
                                                      .arg(fakes.cookieStore->cookies.size()));
                                   }});
    }
    void cleanup() {
        view.reset();
        model.reset();
    }

    // What the panel shows in each phase, with and without saves listed.
    void phases_data() {
        QTest::addColumn<Phase>("phase");
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("listed");
        QTest::addColumn<bool>("saveEnabled");
        QTest::addColumn<QStringList>("status");
        QTest::addColumn<QString>("empty");
        const QString none = QStringLiteral("Nothing saved yet."), link = QStringLiteral("x");
        const auto check = [](const char* title, const QString& detail) {
            return QStringList{"checkmark.circle.fill", QString::fromUtf8(title), detail};
        };
        const auto triangle = [](const char* title, const QString& detail) {
            return QStringList{"exclamationmark.triangle.fill", QString::fromUtf8(title), detail};
        };
        const phase::Idle idle;
        const SaveRow error = save("1", "error");
        const SaveRow filed = save("1", "done");
        const QString unread = QStringLiteral("That one couldn't be read.");
        QTest::newRow("idle, spaces, tab")
            << Phase(idle) << " \t\u00A0" << true << false << QStringList() << QString();
        QTest::newRow("idle, line break") << Phase(idle) << "\n"
                                          << false << true << QStringList() << none;
        QTest::newRow("saving") << Phase(phase::Saving{}) << link << false << false << QStringList()
                                << none;
        QTest::newRow("done") << Phase(phase::Done{filed, false}) << link << false << true
                              << check("Saved", "Title 1") << none;
        QTest::newRow("done, error") << Phase(phase::Done{error, false}) << QString() << false
                                     << false << triangle("Saved — filing it now", unread) << none;
        QTest::newRow("failed") << Phase(phase::Failed{"Not a link."}) << link << false << true
                                << QStringList{"exclamationmark.circle.fill", "Not a link."}
                                << none;
        QTest::newRow("queued") << Phase(phase::Queued{}) << QString() << true << false
                                << QStringList{"clock.fill", "Saved on this computer",
                                               "It goes to your library when you're back online."}
                                << QString();
        const QStringList signIn{"person.crop.circle", "Sign in to save."};
        QTest::newRow("signed out") << Phase(phase::SignedOut{}) << link << false << true << signIn
                                    << "Your saves appear here once you're signed in.";
    }
    void phases() {
        QFETCH(Phase, phase);
        QFETCH(QString, url);
        QFETCH(bool, listed);
        QFETCH(bool, saveEnabled);
        QFETCH(QStringList, status);
        QFETCH(QString, empty);
        QuickSaveModelAccess::setRecent(*model, listed ? QList<SaveRow>{save("r", "done")}
                                                       : QList<SaveRow>{});
        QuickSaveModelAccess::setPhase(*model, phase);
        model->setUrl(url);

        QCOMPARE(find<QLineEdit>("field")->text(), url);
        const bool saving = std::holds_alternative<phase::Saving>(phase);
        QCOMPARE(find<QPushButton>("save")->isEnabled(), saveEnabled);
        QCOMPARE(find<QPushButton>("save")->text(), saving ? "" : "Save");
        QCOMPARE(shown("busy"), saving);
        QCOMPARE(this->status(), status);
        QCOMPARE(shown("status"), !status.isEmpty());
        QCOMPARE(shown("signIn"), std::holds_alternative<phase::SignedOut>(phase));
        QCOMPARE(rows().size(), listed ? 1 : 0);
        QCOMPARE(shown("recentList"), listed);
        QCOMPARE(shown("emptyText") ? find<QLabel>("emptyText")->text() : QString(), empty);
    }

    // A long failure note stops at three lines, the last one ending in an ellipsis.
    void longTextsAreClamped() {
        const QString words = QStringLiteral("The page could not be read. ").repeated(12);
        QuickSaveModelAccess::setPhase(*model, phase::Failed{words});
        const QStringList lines = find<ClampedLabel>("failedNoteText")->lines(300);
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines.last().endsWith(QChar(0x2026)));
    }

    void recentRow_data() {
        QTest::addColumn<SaveRow>("row");
        QTest::addColumn<QVariant>("subtitle"); // null: no subtitle line
        QTest::addColumn<bool>("openable");
        const QString yt = QStringLiteral("YouTube"), reading = QStringLiteral("Reading it…");
        QTest::newRow("three tags")
            << save("1", "queued", QStringList{"a", "b", "c"}) << QVariant("a · b") << true;
        QTest::newRow("error, no platform") << save("1", "error") << QVariant() << true;
        QTest::newRow("empty first tag, queued")
            << save("1", "queued", QStringList{""}, yt) << QVariant(reading) << true;
        QTest::newRow("screenshot")
            << save("1", "done", {}, {}, "screenshot:1") << QVariant() << false;
    }
    void recentRow() {
        QFETCH(SaveRow, row);
        QFETCH(QVariant, subtitle);
        QFETCH(bool, openable);
        RecentRow widget(row);
        QCOMPARE(widget.subtitle() ? QVariant(*widget.subtitle()) : QVariant(), subtitle);
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QCoreApplication::sendEvent(&widget, &enter);
        QCOMPARE(widget.isHovering(), openable);
        QCOMPARE(widget.focusPolicy(), openable ? Qt::StrongFocus : Qt::NoFocus);
        widget.resize(widget.sizeHint());
        QTest::mouseClick(&widget, Qt::LeftButton);
        QCOMPARE(fakes.workspace->opened, openable ? QList<QUrl>{QUrl(*row.url)} : QList<QUrl>{});
    }

    // Focus starts in the field; Tab goes field → Save → openable rows → Open library → menu.
    void keyboard() {
        QuickSaveModelAccess::setRecent(
            *model, {save("a", "done"), save("b", "done", {}, {}, "screenshot:b"), save("c", {})});
        model->setUrl(QStringLiteral("https://example.test/x"));
        view->show();
        QVERIFY(QTest::qWaitForWindowActive(view.get()));
        QStringList order;
        for (int i = 0; i < 8; ++i) {
            QWidget* focused = QApplication::focusWidget();
            order << (focused->objectName().isEmpty() ? focused->accessibleName()
                                                      : focused->objectName());
            QTest::keyClick(focused, Qt::Key_Tab);
        }
        QCOMPARE(order, (QStringList{"field", "save", "Title a", "Title c", "openLibrary",
                                     "setShortcut", "menuButton", "field"}));
        QTest::keyClick(find("field"), Qt::Key_Return);
        QTest::keyClick(find("field"), Qt::Key_Escape);
        // Open library dismisses the panel before showing the window.
        QTest::mouseClick(find("openLibrary"), Qt::LeftButton);
        QCOMPARE(log, (QStringList{"save https://example.test/x", "recent", "dismiss", "dismiss",
                                   "show"}));
    }

    // Keys are named only while the shortcut is registered; otherwise the footer offers to set
    // one, which closes the panel for the explanation of the desktop's own setting.
    void shortcut_data() {
        QTest::addColumn<bool>("registered");
        QTest::newRow("registered") << true;
        QTest::newRow("not registered") << false;
    }
    void shortcut() {
        QFETCH(bool, registered);
        if (registered)
            fakes.hotKeys->registerHotKey([] {});
        view->show();
        QCOMPARE(find("openLibrary")->accessibleDescription(),
                 registered ? "Alt+Super+S" : QString());
        QCOMPARE(StatusItem::defaultToolTip().contains("Alt+Super+S"), registered);
        QCOMPARE(shown("setShortcut"), !registered);
        if (registered)
            return;
        QTest::mouseClick(find("setShortcut"), Qt::LeftButton);
        QCOMPARE(log, QStringList{"dismiss"});
        QCOMPARE(fakes.alerts->shown.size(), 1);
        QVERIFY(fakes.alerts->shown[0].informativeText.contains(" --toggle-library"));
    }

    // Sign out deletes the session, loads the sign-in page without showing the window, then
    // refreshes the list, which finds no session. No command closes the panel.
    void menuCommands() {
        QCOMPARE(openMenu(), (QStringList{"Reload library", "Open at login", "", "Sign out", "",
                                          "Quit Pinlark"}));
        QNetworkCookie session("authjs.session-token", "t"), other("theme", "dark");
        session.setDomain(QStringLiteral("pinlark.app"));
        fakes.cookieStore->cookies = {session, other};
        client->signedOut = true;
        item(QStringLiteral("Reload library"))->trigger();
        item(QStringLiteral("Sign out"))->trigger();
        QTRY_COMPARE(model->phase(), Phase(phase::SignedOut{}));
        QCOMPARE(log, (QStringList{"reload", "load https://pinlark.app/signin, cookies left: 1",
                                   "recent"}));
        QVERIFY(shown("signInBlock"));
    }
};

} // namespace pinlark

QTEST_MAIN(pinlark::TestQuickSaveView)
#include "tst_quicksaveview.moc"
