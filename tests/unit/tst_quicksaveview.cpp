#include "QuickSaveModelAccess.h"
#include "TestSupport.h"
#include "loginitem/LoginItem.h"
#include "platform/fake/FakePlatform.h"
#include "quicksave/ClampedLabel.h"
#include "quicksave/QuickSaveView.h"
#include "quicksave/RecentRow.h"
#include "quicksave/Symbol.h"
#include "service/APIError.h"

#include <QApplication>
#include <QEnterEvent>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

Q_DECLARE_METATYPE(pinlark::Phase)
Q_DECLARE_METATYPE(pinlark::SaveRow)

namespace pinlark {

namespace {

// Answers the refresh of the recent saves with `rows`, or as signed out when `signedOut`; every
// call is written to `log`.
class ListClient : public SavesClient {
public:
    QCoro::Task<SaveOutcome> save(QString url, CancelToken) override {
        log->append(QStringLiteral("save ") + url);
        co_return SaveOutcome{QStringLiteral("s1"), false};
    }
    QCoro::Task<QList<SaveRow>> recent(int, CancelToken) override {
        log->append(QStringLiteral("recent"));
        if (signedOut)
            throw APIError(QStringLiteral("unauthenticated"), QStringLiteral("Sign in to save."));
        co_return rows;
    }
    QCoro::Task<SaveRow> get(QString, CancelToken) override { co_return SaveRow{}; }

    QStringList* log = nullptr;
    QList<SaveRow> rows;
    bool signedOut = false;
};

SaveRow save(const QString& id, std::optional<QString> status,
             std::optional<QStringList> tags = std::nullopt,
             std::optional<QString> platform = std::nullopt,
             std::optional<QString> url = QStringLiteral("https://example.test/a")) {
    SaveRow row;
    row.id = id;
    row.url = std::move(url);
    row.status = std::move(status);
    row.tags = std::move(tags);
    row.platform = std::move(platform);
    row.title = QStringLiteral("Title ") + id;
    return row;
}

QColor tint(const QString& name, const QPalette& palette) {
    if (name == QLatin1String("green"))
        return PanelStyle::green(palette);
    if (name == QLatin1String("orange"))
        return PanelStyle::orange(palette);
    if (name == QLatin1String("accent"))
        return PanelStyle::accent(palette);
    QColor faded = PanelStyle::secondary(palette);
    if (name == QLatin1String("faded"))
        faded.setAlphaF(faded.alphaF() * 0.35);
    return faded;
}

} // namespace

class TestQuickSaveView : public QObject {
    Q_OBJECT

    FakePlatform fakes;
    QStringList log;
    std::shared_ptr<ListClient> client;
    std::unique_ptr<QuickSaveModel> model;
    std::unique_ptr<QuickSaveView> view;

    template <typename T = QWidget> T* find(const char* name) const {
        T* widget = view->findChild<T*>(QLatin1String(name));
        if (!widget)
            qFatal("no widget %s", name);
        return widget;
    }
    bool shown(const char* name) const { return find(name)->isVisibleTo(view.get()); }
    QList<RecentRow*> rows() const { return view->findChildren<RecentRow*>(); }
    QStringList menuTitles() {
        QMetaObject::invokeMethod(view->menu(), "aboutToShow");
        QStringList titles;
        for (const QAction* action : view->menu()->actions())
            titles.append(action->text());
        return titles;
    }
    QAction* menuAction(const QString& title) {
        menuTitles();
        for (QAction* action : view->menu()->actions())
            if (action->text() == title)
                return action;
        qFatal("no menu item %s", qPrintable(title));
    }

private Q_SLOTS:
    void init() {
        TestState::reset();
        fakes = FakePlatform::install();
        log.clear();
        client = std::make_shared<ListClient>();
        client->log = &log;
        model = std::make_unique<QuickSaveModel>(client);
        model->dismiss = [this] { log.append(QStringLiteral("dismiss")); };
        QuickSaveView::Library library{
            [this] { log.append(QStringLiteral("show")); },
            [this] { log.append(QStringLiteral("reload")); },
            [this](const QUrl& url) {
                log.append(QStringLiteral("load %1, %2 cookies left")
                               .arg(url.toString())
                               .arg(fakes.cookieStore->cookies.size()));
            },
        };
        view = std::make_unique<QuickSaveView>(*model, library);
    }
    void cleanup() {
        view.reset();
        model.reset();
    }

    // What the panel shows in each phase, through the widgets' own state.
    void phases_data() {
        QTest::addColumn<Phase>("phase");
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("listed");
        QTest::addColumn<bool>("saveEnabled");
        QTest::addColumn<QString>("section");   // the status section shown, if any
        QTest::addColumn<QStringList>("texts"); // its symbol, tint and texts
        QTest::addColumn<QString>("empty");     // the text in place of an empty list

        const QString nothing = QStringLiteral("Nothing saved yet.");
        const QString link = QStringLiteral("https://example.test/a");
        const phase::Idle idle;
        QTest::newRow("idle, empty field")
            << Phase(idle) << QString() << false << false << QString() << QStringList() << nothing;
        QTest::newRow("idle, spaces and tabs")
            << Phase(idle) << QStringLiteral(" \t\u00A0") << false << false << QString()
            << QStringList() << nothing;
        QTest::newRow("idle, a line break") << Phase(idle) << QStringLiteral("\n") << false << true
                                            << QString() << QStringList() << nothing;
        QTest::newRow("idle, listed")
            << Phase(idle) << link << true << true << QString() << QStringList() << QString();
        QTest::newRow("saving") << Phase(phase::Saving{}) << link << false << false << QString()
                                << QStringList() << nothing;
        const auto saved = [](const char* symbol, const char* tint, const char* title,
                              const QString& detail) {
            return QStringList{QLatin1String(symbol), QLatin1String(tint), QString::fromUtf8(title),
                               detail};
        };
        QTest::newRow("done, filing")
            << Phase(phase::Done{save(QStringLiteral("1"), QStringLiteral("queued")), false})
            << QString() << false << false << QStringLiteral("savedLine")
            << saved("checkmark.circle.fill", "green", "Saved — filing it now",
                     QStringLiteral("Title 1"))
            << nothing;
        QTest::newRow("done, filed")
            << Phase(phase::Done{save(QStringLiteral("1"), QStringLiteral("done")), false})
            << QString() << true << false << QStringLiteral("savedLine")
            << saved("checkmark.circle.fill", "green", "Saved", QStringLiteral("Title 1"))
            << QString();
        QTest::newRow("done, existing")
            << Phase(phase::Done{save(QStringLiteral("1"), QStringLiteral("done")), true})
            << QString() << false << false << QStringLiteral("savedLine")
            << saved("checkmark.circle.fill", "green", "Already in your library",
                     QStringLiteral("Title 1"))
            << nothing;
        SaveRow unreadable = save(QStringLiteral("1"), QStringLiteral("error"));
        QTest::newRow("done, error without text")
            << Phase(phase::Done{unreadable, false}) << QString() << false << false
            << QStringLiteral("savedLine")
            << saved("exclamationmark.triangle.fill", "orange", "Saved — filing it now",
                     QStringLiteral("That one couldn't be read."))
            << nothing;
        unreadable.error = QStringLiteral("The page would not load.");
        QTest::newRow("done, existing, error")
            << Phase(phase::Done{unreadable, true}) << QString() << false << false
            << QStringLiteral("savedLine")
            << saved("exclamationmark.triangle.fill", "orange", "Already in your library",
                     QStringLiteral("The page would not load."))
            << nothing;
        QTest::newRow("failed") << Phase(phase::Failed{QStringLiteral("That link is not valid.")})
                                << link << false << true << QStringLiteral("failedNote")
                                << QStringList{QStringLiteral("exclamationmark.circle.fill"),
                                               QStringLiteral("orange"),
                                               QStringLiteral("That link is not valid.")}
                                << nothing;
        const QStringList signInNote{QStringLiteral("person.crop.circle"),
                                     QStringLiteral("secondary"),
                                     QStringLiteral("Sign in to save.")};
        QTest::newRow("signed out")
            << Phase(phase::SignedOut{}) << link << false << true << QStringLiteral("signInBlock")
            << signInNote << QStringLiteral("Your saves appear here once you're signed in.");
        QTest::newRow("signed out, listed")
            << Phase(phase::SignedOut{}) << QString() << true << false
            << QStringLiteral("signInBlock") << signInNote << QString();
    }
    void phases() {
        QFETCH(Phase, phase);
        QFETCH(QString, url);
        QFETCH(bool, listed);
        QFETCH(bool, saveEnabled);
        QFETCH(QString, section);
        QFETCH(QStringList, texts);
        QFETCH(QString, empty);

        QuickSaveModelAccess::setRecent(
            *model, listed ? QList<SaveRow>{save(QStringLiteral("r"), QStringLiteral("done"))}
                           : QList<SaveRow>{});
        QuickSaveModelAccess::setPhase(*model, phase);
        model->setUrl(url);

        QCOMPARE(find<QLineEdit>("field")->text(), url);
        QCOMPARE(find<QLineEdit>("field")->placeholderText(),
                 QStringLiteral("Paste a link to save"));
        const bool saving = std::holds_alternative<phase::Saving>(phase);
        QCOMPARE(find<QPushButton>("save")->isEnabled(), saveEnabled);
        QCOMPARE(find<QPushButton>("save")->text(), saving ? QString() : QStringLiteral("Save"));
        QCOMPARE(shown("busy"), saving);

        QCOMPARE(shown("status"), !section.isEmpty());
        for (const char* name : {"savedLine", "failedNote", "signInBlock"})
            QCOMPARE(shown(name), section == QLatin1String(name));
        if (!section.isEmpty()) {
            const QString prefix = section == QLatin1String("savedLine") ? QStringLiteral("saved")
                                   : section == QLatin1String("failedNote")
                                       ? section
                                       : QStringLiteral("signInNote");
            const auto* symbol = view->findChild<Symbol*>(prefix + QStringLiteral("Symbol"));
            QCOMPARE(symbol->name(), texts[0]);
            QCOMPARE(symbol->color(), tint(texts[1], view->palette()));
            if (section == QLatin1String("savedLine")) {
                QCOMPARE(find<QLabel>("savedTitle")->text(), texts[2]);
                QCOMPARE(find<ClampedLabel>("savedDetail")->text(), texts[3]);
            } else {
                QCOMPARE(view->findChild<ClampedLabel*>(prefix + QStringLiteral("Text"))->text(),
                         texts[2]);
            }
        }
        QCOMPARE(shown("signIn"), section == QLatin1String("signInBlock"));
        QCOMPARE(shown("recentList"), listed);
        QCOMPARE(rows().size(), listed ? 1 : 0);
        QCOMPARE(shown("emptyText"), !listed);
        if (!listed)
            QCOMPARE(find<ClampedLabel>("emptyText")->text(), empty);
    }

    // A failure message is cut at three lines and a saved line's detail at two.
    void longTextsAreClamped() {
        const QString words =
            QStringLiteral("The service could not read this page at all. ").repeated(8);
        QuickSaveModelAccess::setPhase(*model, phase::Failed{words});
        auto* note = find<ClampedLabel>("failedNoteText");
        QCOMPARE(note->maxLines(), 3);
        QStringList lines = note->lines(300);
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines.last().endsWith(QChar(0x2026)));
        QCOMPARE(note->heightForWidth(300), 3 * note->fontMetrics().lineSpacing());
        QCOMPARE(note->text(), words); // whole, for accessibility

        SaveRow row = save(QStringLiteral("1"), QStringLiteral("error"));
        row.error = words;
        QuickSaveModelAccess::setPhase(*model, phase::Done{row, false});
        QCOMPARE(find<ClampedLabel>("savedDetail")->lines(300).size(), 2);
        QCOMPARE(find<ClampedLabel>("savedDetail")->lines(3000).size(), 1);
    }

    void recentRow_data() {
        QTest::addColumn<SaveRow>("row");
        QTest::addColumn<QVariant>("subtitle"); // null: no subtitle line
        QTest::addColumn<QString>("dot");
        QTest::addColumn<bool>("openable");
        const QStringList three{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};
        const QString yt = QStringLiteral("YouTube");
        QTest::newRow("three tags, queued")
            << save(QStringLiteral("1"), QStringLiteral("queued"), three)
            << QVariant(QStringLiteral("a · b")) << QStringLiteral("accent") << true;
        QTest::newRow("one tag, done")
            << save(QStringLiteral("1"), QStringLiteral("done"), QStringList{QStringLiteral("a")},
                    yt)
            << QVariant(QStringLiteral("a")) << QStringLiteral("faded") << true;
        QTest::newRow("no tags, done, platform")
            << save(QStringLiteral("1"), QStringLiteral("done"), QStringList{}, yt) << QVariant(yt)
            << QStringLiteral("faded") << true;
        QTest::newRow("no tags, error, no platform")
            << save(QStringLiteral("1"), QStringLiteral("error")) << QVariant()
            << QStringLiteral("orange") << true;
        QTest::newRow("empty first tag, done")
            << save(QStringLiteral("1"), QStringLiteral("done"), QStringList{QString()}, yt)
            << QVariant(yt) << QStringLiteral("faded") << true;
        QTest::newRow("empty first tag, queued")
            << save(QStringLiteral("1"), QStringLiteral("queued"), QStringList{QString()}, yt)
            << QVariant(QStringLiteral("Reading it…")) << QStringLiteral("accent") << true;
        QTest::newRow("unlisted status")
            << save(QStringLiteral("1"), QStringLiteral("Done"), std::nullopt, yt)
            << QVariant(QStringLiteral("Reading it…")) << QStringLiteral("accent") << true;
        QTest::newRow("no status")
            << save(QStringLiteral("1"), std::nullopt) << QVariant(QStringLiteral("Reading it…"))
            << QStringLiteral("accent") << true;
        QTest::newRow("screenshot")
            << save(QStringLiteral("1"), QStringLiteral("done"), std::nullopt, std::nullopt,
                    QStringLiteral("screenshot:abc"))
            << QVariant() << QStringLiteral("faded") << false;
        QTest::newRow("no url") << save(QStringLiteral("1"), QStringLiteral("done"), std::nullopt,
                                        std::nullopt, std::nullopt)
                                << QVariant() << QStringLiteral("faded") << false;
    }
    void recentRow() {
        QFETCH(SaveRow, row);
        QFETCH(QVariant, subtitle);
        QFETCH(QString, dot);
        QFETCH(bool, openable);
        RecentRow widget(row);
        QCOMPARE(widget.subtitle().has_value(), !subtitle.isNull());
        QCOMPARE(widget.subtitle().value_or(QString()), subtitle.toString());
        QCOMPARE(widget.dotColor(), tint(dot, widget.palette()));
        QCOMPARE(widget.accessibleName(), row.display());

        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QCoreApplication::sendEvent(&widget, &enter);
        QCOMPARE(widget.isHovering(), openable);
        QCOMPARE(widget.focusPolicy(), openable ? Qt::StrongFocus : Qt::NoFocus);
        widget.resize(widget.sizeHint());
        QTest::mouseClick(&widget, Qt::LeftButton);
        QCOMPARE(fakes.workspace->opened, openable ? QList<QUrl>{QUrl(*row.url)} : QList<QUrl>{});
        QVERIFY(log.isEmpty()); // opening a link leaves the panel open
    }

    // Rows follow the list in order; a save still listed keeps its widget.
    void rowsFollowTheList() {
        const SaveRow a = save(QStringLiteral("a"), QStringLiteral("queued"));
        const SaveRow b = save(QStringLiteral("b"), QStringLiteral("done"));
        QuickSaveModelAccess::setRecent(*model, {a, b});
        RecentRow* widgetOfA = rows().value(0);
        SaveRow filed = a;
        filed.status = QStringLiteral("done");
        const SaveRow c = save(QStringLiteral("c"), QStringLiteral("queued"));
        QuickSaveModelAccess::setRecent(*model, {c, filed});
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(rows().size(), 2);
        auto* layout = find("recentList")->layout();
        QCOMPARE(static_cast<RecentRow*>(layout->itemAt(0)->widget())->row(), c);
        QCOMPARE(layout->itemAt(1)->widget(), widgetOfA);
        QCOMPARE(widgetOfA->row(), filed);
    }

    // Focus goes to the field when the panel appears; Tab moves field → Save → openable rows →
    // Open library → menu; Escape and return reach the model.
    void keyboard() {
        QuickSaveModelAccess::setRecent(
            *model, {save(QStringLiteral("a"), QStringLiteral("done")),
                     save(QStringLiteral("b"), QStringLiteral("done"), std::nullopt, std::nullopt,
                          QStringLiteral("screenshot:b")),
                     save(QStringLiteral("c"), QStringLiteral("done"))});
        model->setUrl(QStringLiteral("https://example.test/x"));
        view->show();
        QVERIFY(QTest::qWaitForWindowActive(view.get()));
        QCOMPARE(QApplication::focusWidget(), find("field"));
        QStringList order;
        for (int i = 0; i < 6; ++i) {
            QWidget* focused = QApplication::focusWidget();
            order.append(focused->objectName().isEmpty() ? focused->accessibleName()
                                                         : focused->objectName());
            QTest::keyClick(focused, Qt::Key_Tab);
        }
        QCOMPARE(order,
                 (QStringList{"field", "save", "Title a", "Title c", "openLibrary", "menuButton"}));
        QCOMPARE(QApplication::focusWidget(), find("field"));

        QTest::keyClick(find("field"), Qt::Key_Return);
        QTest::keyClick(find("field"), Qt::Key_Escape);
        QCOMPARE(log, (QStringList{"save https://example.test/x", "recent", "dismiss"}));
    }

    void openLibraryDismissesFirst() {
        QTest::mouseClick(find("openLibrary"), Qt::LeftButton);
        QCOMPARE(log, (QStringList{"dismiss", "show"}));
        QCOMPARE(find<QAbstractButton>("openLibrary")->text(), QStringLiteral("Open library"));
    }

    void menuCommands() {
        QCOMPARE(menuTitles(), (QStringList{"Reload library", "Open at login", "", "Sign out", "",
                                            "Quit Pinlark"}));
        menuAction(QStringLiteral("Reload library"))->trigger();
        QCOMPARE(log, QStringList{"reload"}); // the panel stays open
    }

    // Sign out deletes the session, loads the sign-in page without showing the window, then
    // refreshes the list, which finds no session; the panel stays open.
    void signOutInOrder() {
        QNetworkCookie session("authjs.session-token", "t");
        session.setDomain(QStringLiteral("pinlark.app"));
        QNetworkCookie other("theme", "dark");
        other.setDomain(QStringLiteral("pinlark.app"));
        fakes.cookieStore->cookies = {session, other};
        QuickSaveModelAccess::setRecent(*model,
                                        {save(QStringLiteral("a"), QStringLiteral("done"))});
        client->signedOut = true;

        menuAction(QStringLiteral("Sign out"))->trigger();
        QTRY_COMPARE(model->phase(), Phase(phase::SignedOut{}));
        QCOMPARE(log, (QStringList{"load https://pinlark.app/signin, 1 cookies left", "recent"}));
        QCOMPARE(fakes.cookieStore->deleted.size(), 1);
        QVERIFY(shown("signInBlock"));
        QCOMPARE(find<ClampedLabel>("emptyText")->text(),
                 QStringLiteral("Your saves appear here once you're signed in."));
    }

    // The toggle shows the platform's registration, read at each opening, not the stored wish.
    void loginToggle_data() {
        QTest::addColumn<bool>("wish");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("checked");
        using S = LoginItemService::Status;
        QTest::newRow("wished, not registered") << true << int(S::NotRegistered) << false;
        QTest::newRow("wished, awaiting approval") << true << int(S::RequiresApproval) << false;
        QTest::newRow("not wished, enabled") << false << int(S::Enabled) << true;
    }
    void loginToggle() {
        QFETCH(bool, wish);
        QFETCH(int, status);
        QFETCH(bool, checked);
        fakes.defaults->set(QLatin1String(LoginItem::desiredKey), wish);
        fakes.loginItems->state = LoginItemService::Status(status);
        QAction* toggle = menuAction(QStringLiteral("Open at login"));
        QVERIFY(toggle->isCheckable());
        QCOMPARE(toggle->isChecked(), checked);

        // Switching it on while the platform refuses stores the wish; the toggle stays off.
        fakes.loginItems->state = LoginItemService::Status::NotRegistered;
        fakes.loginItems->registerError = QStringLiteral("Operation not permitted");
        menuAction(QStringLiteral("Open at login"))->trigger();
        QVERIFY(fakes.defaults->boolean(QLatin1String(LoginItem::desiredKey)).value_or(false));
        QCOMPARE(menuAction(QStringLiteral("Open at login"))->isChecked(), false);
        QVERIFY(log.isEmpty());
    }
};

} // namespace pinlark

QTEST_MAIN(pinlark::TestQuickSaveView)
#include "tst_quicksaveview.moc"
