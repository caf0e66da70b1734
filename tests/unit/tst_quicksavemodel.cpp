#include "QuietSavesClient.h"
#include "TestSupport.h"
#include "quicksave/Outbox.h"
#include "quicksave/QuickSaveModel.h"
#include "service/DecodingError.h"

using namespace std::chrono_literals;

namespace pinlark {

namespace {

const QString link = u"https://example.test/a"_s;
const QString saveLink = u"save "_s + link;
const QString offline = u"Can't reach Pinlark. Check your connection."_s;

SaveRow row(const QString& status) {
    return SaveRow{u"s1"_s, link, {}, status, {}, {}, {}, {}};
}

SaveOutcome unreachable(const QString&) {
    throw APIError(u"offline"_s, offline);
}

} // namespace

class TestQuickSaveModel : public QObject {
    Q_OBJECT

    FakePlatform fakes;
    QTemporaryDir dir;
    const QString path = dir.filePath(u"outbox.json"_s);
    std::shared_ptr<QuietSavesClient> client;
    std::unique_ptr<Outbox> outbox;
    std::unique_ptr<QuickSaveModel> model;

    // An outbox file of `count` links of `length` characters.
    void writeOutbox(int count, int length) {
        const QByteArray link = "{\"url\":\"" +
                                QByteArray("https://e.test/").leftJustified(length, 'a') +
                                "\",\"queued\":\"2024-05-01T10:00:00.000Z\"}";
        QVERIFY(writeFile(path, "{\"links\":[" + (link + ',').repeated(count - 1) + link + "]}"));
    }
    void restart() {
        model.reset();
        outbox = std::make_unique<Outbox>(path, client);
        model = std::make_unique<QuickSaveModel>(client, outbox.get());
        runTask(outbox->refreshSession());
    }
    void save(const QString& text = link) {
        model->setUrl(text);
        model->save();
    }
    // The session cookie of `token`, in place of any other; announced, as a sign-in in the
    // library window is, unless told otherwise.
    void signIn(const QString& token, bool announced = true) {
        if (announced)
            fakes.cookieStore->replace({sessionCookie(token.toUtf8())});
        else
            fakes.cookieStore->cookies = {sessionCookie(token.toUtf8())};
    }

private Q_SLOTS:
    void init() {
        TestState::reset();
        fakes = FakePlatform::install();
        QFile::remove(path);
        client = std::make_shared<QuietSavesClient>();
        signIn(u"a"_s);
        restart();
    }
    void cleanup() {
        model.reset();
        outbox.reset();
    }

    // The clipboard fills an empty field with a web link while the panel is idle (not after a
    // failed save, nor while saving); the list is refreshed either way. Where the clipboard is
    // read once the panel holds the keyboard, it is read then, and never over a typed link.
    void prefill_data() {
        QTest::addColumn<QString>("before"); // "failed" or "saving": a save that failed or holds;
        // "focus": read at focus; "typed": typed before focus
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<QString>("expected");
        const auto add = [](const char* name, const QString& text, const QString& expected = {},
                            const QString& before = {}) {
            QTest::newRow(name) << before << text << expected;
        };
        add("trimmed", u"  https://example.test/a \n"_s, link);
        add("no scheme", u"example.test/a"_s);
        add("no host", u"https:/a"_s);
        add("not a URL", u"https://exa mple.test"_s);
        add("after a failed save", link, {}, u"failed"_s);
        add("while saving", link, {}, u"saving"_s);
        add("at focus", link, link, u"focus"_s);
        add("typed before focus", link, u"https://example.test/typed"_s, u"typed"_s);
        // U+1F600 is two UTF-16 code units and one character: the limit counts characters.
        const QString head = u"https://example.test/"_s;
        const QString at2047 = head + u"\U0001F600"_s.repeated(2047 - int(head.size()));
        add("2047 characters", at2047, at2047);
        add("2048 characters", at2047 + u"a"_s);
    }
    void prefill() {
        QFETCH(QString, before);
        QFETCH(QString, clipboard);
        QFETCH(QString, expected);
        if (before == "focus"_L1 || before == "typed"_L1) {
            fakes.pasteboard->text = u"https://example.test/older"_s;
            model->opened(false);
            QCOMPARE(model->url(), QString()); // nothing older than the clipboard of the moment
            if (before == "typed"_L1)
                model->setUrl(u"https://example.test/typed"_s);
            fakes.pasteboard->text = clipboard;
            model->focused();
            model->focused(); // once
            QCOMPARE(model->url(), expected);
            return;
        }
        if (!before.isEmpty()) {
            client->hold = before == "saving"_L1;
            client->onSave = [](const QString&) -> SaveOutcome { throw APIError(u"bad"_s, {}); };
            save();
            model->setUrl({}); // cleared by the save, or by the user after a failure
        }
        fakes.pasteboard->text = clipboard;
        model->opened();
        QCOMPARE(model->url(), expected);
        QCOMPARE(client->calls.count(u"recent"_s), 1);
    }

    // Several links in the field: each saved once, in order, all in the outbox's file before
    // the first request leaves; the phase counts them as they go and sums them up.
    void manyLinks() {
        const QString text = u"Read https://a.test/1 and\nhttps://b.test/2, https://a.test/1 "
                             "ftp://x.test/ https://c.test/3"_s;
        model->setUrl(text);
        QVERIFY(model->holdsMany());
        QStringList progress;
        bool writtenAhead = false;
        client->onSave = [&](const QString& url) {
            if (url.endsWith(u"/1"_s)) {
                writtenAhead = waitingLinks(path) == QStringList{u"https://a.test/1"_s,
                                                                 u"https://b.test/2"_s,
                                                                 u"https://c.test/3"_s};
            }
            const auto* many = std::get_if<phase::Many>(&model->phase());
            progress << (many ? many->line() : u"?"_s);
            return SaveOutcome{u"s1"_s, url.endsWith(u"/2"_s)};
        };
        model->save();
        model->save(); // once
        QCOMPARE(client->calls, (QStringList{u"save https://a.test/1"_s, u"save https://b.test/2"_s,
                                             u"save https://c.test/3"_s, u"recent"_s}));
        QVERIFY(writtenAhead);
        QCOMPARE(progress, (QStringList{u"0 of 3 saved\u2026"_s, u"1 of 3 saved\u2026"_s,
                                        u"2 of 3 saved\u2026"_s}));
        const auto* many = std::get_if<phase::Many>(&model->phase());
        QVERIFY(many);
        QCOMPARE(many->line(), u"2 saved, 1 already in your library"_s);
        QCOMPARE(model->url(), QString());
        QCOMPARE(outbox->count(), 0);
        fakes.clock->advance(10min);
        QCOMPARE(client->calls.count(u"get s1"_s), 0); // no polling per link
        model->closed();
        QCOMPARE(model->phase(), Phase(phase::Idle{}));
    }

    // The summary line for each mix of answers.
    void manySummary_data() {
        QTest::addColumn<QStringList>("answers"); // per link: saved, existing, refused, offline
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("waiting");
        QTest::newRow("all saved") << QStringList{"saved", "saved", "saved"} << u"3 saved"_s << 0;
        QTest::newRow("one refused") << QStringList{"saved", "refused", "saved"}
                                     << u"2 saved, 1 couldn't be saved: No."_s << 0;
        // The connection goes: the rest wait with the link, without a post each.
        QTest::newRow("offline midway") << QStringList{"saved", "offline", "saved"}
                                        << u"1 saved, 2 saved on this computer"_s << 2;
    }
    void manySummary() {
        QFETCH(QStringList, answers);
        QFETCH(QString, line);
        QFETCH(int, waiting);
        QString text;
        for (qsizetype i = 0; i < answers.size(); ++i)
            text += u"https://e.test/%1\n"_s.arg(i);
        client->onSave = [&](const QString& url) -> SaveOutcome {
            const QString answer = answers.value(url.section(u'/', -1).toInt());
            if (answer == "offline"_L1)
                throw APIError(u"offline"_s, offline);
            if (answer == "refused"_L1)
                throw APIError::fromResponse(400, R"({"error":"no","message":"No."})");
            return {u"s1"_s, answer == "existing"_L1};
        };
        model->setUrl(text);
        model->save();
        const auto* many = std::get_if<phase::Many>(&model->phase());
        QVERIFY(many);
        QVERIFY(!many->running);
        QCOMPARE(many->line(), line);
        QCOMPARE(outbox->count(), waiting);
        // The batch's own posts, before the refresh that ends it (whose answer starts a round).
        const int posts = int(client->calls.indexOf(u"recent"_s));
        QCOMPARE(posts, int(answers.indexOf(u"offline"_s) < 0 ? answers.size()
                                                             : answers.indexOf(u"offline"_s) + 1));
    }

    // More than 100 links: none saved until the text is trimmed.
    void manyBound() {
        QString text;
        for (int i = 0; i < 101; ++i)
            text += u"https://e.test/%1 "_s.arg(i);
        model->setUrl(text);
        QVERIFY(model->found().tooMany());
        model->save();
        QCOMPARE(client->calls, QStringList{});
        QCOMPARE(model->phase(), Phase(phase::Idle{}));
    }

    // Closing the panel midway: the links not yet sent wait in the outbox, which sends them.
    void manyClosedMidway() {
        client->onSave = [&](const QString& url) {
            if (url.endsWith(u"/0"_s))
                model->closed();
            return SaveOutcome{u"s1"_s, false};
        };
        model->setUrl(u"https://e.test/0 https://e.test/1 https://e.test/2"_s);
        model->save();
        runTask(model->loadRecent());
        QCOMPARE(client->calls.filter(u"save "_s),
                 (QStringList{u"save https://e.test/0"_s, u"save https://e.test/1"_s,
                              u"save https://e.test/2"_s}));
        QCOMPARE(outbox->count(), 0);
    }

    // The trimmed text goes out once, however often the user asks; spaces only, never. It is in
    // the outbox's file before its request leaves, and a round (a refresh starts one) neither
    // posts it again nor starts a second round while one is in flight. Closing the panel cuts
    // the save short, not the network: the outbox sends the link at once.
    void savesTheTrimmedTextOnce() {
        save(u" \n "_s);
        client->hold = true;
        save(u"  "_s + link + u"\n"_s);
        model->save();
        QVERIFY(!model->saveLinks({u"https://other.test/"_s})); // nor the copied link meanwhile
        QCOMPARE(client->calls, QStringList{saveLink});
        QCOMPARE(waitingLinks(path), QStringList{link});
        QVERIFY(outbox->add(u"https://other.test/"_s));
        for (int refresh = 0; refresh < 2; ++refresh)
            runTask(model->loadRecent());
        QCOMPARE(client->calls,
                 (QStringList{saveLink, u"recent"_s, u"save https://other.test/"_s, u"recent"_s}));
        model->closed();
        client->hold = false;
        outbox.reset();
        restart();
        outbox->send();
        QCOMPARE(client->calls.mid(4),
                 (QStringList{saveLink, u"save https://other.test/"_s, u"recent"_s}));
        QVERIFY(!QFile::exists(path));
    }

    // At once the provisional row and the first refresh; then a poll every 1.5 s until the save
    // settles or 24 polls have passed, and a last refresh. A link handed over (or typed) while
    // the save was in flight stays in the field.
    void polling_data() {
        QTest::addColumn<QStringList>("answers"); // per poll, the last repeated; "fail": an error
        QTest::addColumn<int>("polls");
        QTest::newRow("done on the third poll") << QStringList{"processing", "queued", "done"} << 3;
        QTest::newRow("failed polls skipped, error") << QStringList{"fail", "fail", "error"} << 3;
        QTest::newRow("never settling") << QStringList{"processing"} << 24;
    }
    void polling() {
        QFETCH(QStringList, answers);
        QFETCH(int, polls);
        const auto start = fakes.clock->now();
        QList<Clock::Duration> times;
        client->onSave = [&](const QString&) {
            model->setUrl(u"https://other.test/"_s);
            return SaveOutcome{u"s1"_s, true};
        };
        client->onGet = [&](int n) {
            times << fakes.clock->now() - start;
            if (answers.value(n - 1) == "fail"_L1)
                throw APIError(u"http_500"_s, {});
            return row(answers.value(n - 1, answers.last()));
        };
        save();
        QCOMPARE(model->phase(), Phase(phase::Done{row(u"queued"_s), true}));
        QCOMPARE(client->calls, (QStringList{saveLink, u"recent"_s}));
        QCOMPARE(model->url(), u"https://other.test/"_s);

        fakes.clock->advance(10min);
        QList<Clock::Duration> expected;
        for (int i = 1; i <= polls; ++i)
            expected << Clock::Duration(1500ms * i);
        QCOMPARE(times, expected);
        QCOMPARE(client->calls, QStringList({saveLink, u"recent"_s}) +
                                    QStringList(polls, u"get s1"_s) + QStringList{u"recent"_s});
        QCOMPARE(model->phase(), Phase(phase::Done{row(answers.last()), true}));
    }

    // Closing the panel ends polling at once, in a sleep or in a request, with no refresh.
    void closingWhilePollingStopsEverything() {
        client->onGet = [&](int n) -> SaveRow {
            if (n == 1)
                return {};
            model->closed(); // during the request, which then fails as the real client's does
            throw APIError(u"offline"_s, {});
        };
        save();
        fakes.clock->advance(1500ms);
        model->closed(); // during the sleep after the first poll
        fakes.clock->advance(10min);
        save();
        fakes.clock->advance(10min);
        QCOMPARE(client->calls, (QStringList{saveLink, u"recent"_s, u"get s1"_s, saveLink,
                                             u"recent"_s, u"get s1"_s}));
        QCOMPARE(fakes.clock->pendingCount(), 0);
    }

    // Per answer: what the panel shows after a save, after closing and after a refresh (a failed
    // save keeps the text in the field for another try; a link that waits in the outbox leaves
    // it), then what becomes of a link waiting in the outbox when it gets that answer: sent (and
    // the list refreshed), dropped with a notification naming it (only the service's own
    // refusal of the link), or kept, and when the next round tries it.
    void outcomes_data() {
        QTest::addColumn<int>("status"); // of the answer; 0 none, -1 a success that can't be read
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<std::optional<std::chrono::seconds>>("retryAfter");
        QTest::addColumn<QString>("seen");
        QTest::addColumn<bool>("handOver"); // a link handed over while the save is in flight
        const QByteArray no = "{\"error\":\"no\",\"message\":\"No.\\u001b\\u009b\\u202e\"}";
        const QString queued = u"queued, waiting / idle, waiting / idle, waiting / kept, again"_s;
        // The service's words, without the controls they came with.
        const QString said =
            u"queued: No., waiting / idle, waiting / idle, waiting / kept, again"_s;
        const auto row = [](const char* name, int status, const QByteArray& body,
                            const QString& seen,
                            std::optional<std::chrono::seconds> retryAfter = {},
                            bool handOver = false) {
            QTest::newRow(name) << status << body << retryAfter << seen << handOver;
        };
        row("saved", 201, {}, u"done, refreshed / idle / idle / sent, refreshed"_s);
        row("no answer", 0, {}, queued + u" in 120 s"_s);
        row("signed out", 401, R"({"error":"unauthenticated","message":"Sign in."})",
            u"signed out, kept, waiting / signed out, kept, waiting / idle, kept, waiting / "
            "kept, again in 120 s"_s);
        row("refused", 400, no,
            u"failed: No., kept / "_s.repeated(3) +
                u"Pinlark couldn't save a link: https://w.test/\nNo."_s);
        row("a proxy's 400 page", 400, "<html>Bad Request</html>", queued + u" in 120 s"_s);
        row("no endpoint", 404, no, said + u" in 120 s"_s);
        row("server trouble", 500, no, said + u" in 120 s"_s);
        row("time-out, come back in 5 min", 408, no, said + u" in 300 s"_s, 300s);
        row("rate limit", 429, no, said + u" in 120 s"_s);
        row("rate limit, come back in 1 s", 429, {}, queued + u" in 1 s"_s, 1s);
        row("unreadable answer", -1, {}, queued + u" in 120 s"_s);
        // The link handed over stays in the field while the saved one waits.
        const QString handedOver = u"queued, kept"_s + queued.mid(6) + u" in 120 s"_s;
        row("no answer, a link handed over", 0, {}, handedOver, {}, true);
        row("unreadable answer, a link handed over", -1, {}, handedOver, {}, true);
    }
    void outcomes() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(std::optional<std::chrono::seconds>, retryAfter);
        QFETCH(QString, seen);
        QFETCH(bool, handOver);
        client->onSave = [=, this](const QString&) -> SaveOutcome {
            if (handOver && std::holds_alternative<phase::Saving>(model->phase()))
                model->setUrl(u"https://other.test/"_s);
            if (status == 0)
                throw APIError(u"offline"_s, offline);
            if (status < 0)
                throw DecodingError(u"missing member \"id\""_s);
            if (status >= 400)
                throw APIError::fromResponse(status, body, retryAfter);
            return {u"s1"_s, status == 200};
        };
        const auto shown = [this] {
            const QStringList names{"idle", "saving", "done", "failed", "signed out", "queued"};
            const auto* failed = std::get_if<phase::Failed>(&model->phase());
            const auto* queued = std::get_if<phase::Queued>(&model->phase());
            const QString message = failed ? failed->message : queued ? queued->message : QString();
            return names[int(model->phase().index())] +
                   (message.isEmpty() ? QString() : u": "_s + message) +
                   (model->url().isEmpty() ? "" : ", kept") + (outbox->count() ? ", waiting" : "");
        };
        save();
        QStringList story{shown() + (client->calls.contains(u"recent"_s) ? ", refreshed" : "")};
        model->closed();
        story << shown();
        runTask(model->loadRecent());
        story << shown();
        QVERIFY(outbox->add(u"https://w.test/"_s));
        outbox->send();
        const auto& told = fakes.notifications->added;
        const auto waiting = model->waiting();
        const bool kept = std::any_of(waiting.begin(), waiting.end(),
                                      [](const auto& w) { return w.url == "https://w.test/"_L1; });
        QString fate = kept             ? u"kept"_s
                       : told.isEmpty() ? u"sent"_s
                                        : told[0].title + u": "_s + told[0].body;
        if (client->calls.last() == "recent"_L1)
            fate += u", refreshed"_s;
        int waited = 0;
        for (const auto tries = client->calls.size();
             client->calls.size() == tries && waited < 3600;)
            fakes.clock->advance(1s), ++waited;
        if (fate == "kept"_L1)
            fate += u", again in %1 s"_s.arg(waited);
        story << fate;
        QCOMPARE(story.join(u" / "_s), seen);
    }

    // Rounds 30 s apart, then twice as long each time up to 30 minutes, each stopping at the
    // oldest link; once the service answers (a panel refresh, as after a sign-in, sends at once)
    // the links go oldest first and the steps start over.
    void backOffAndOrder() {
        client->onSave = unreachable;
        const QString other = u"https://other.test/"_s;
        QVERIFY(outbox->add(link) && outbox->add(other) && outbox->add(link));
        qsizetype tries = 0;
        for (const auto step : {30s, 60s, 120s, 240s, 480s, 960s, 1800s, 1800s}) {
            fakes.clock->advance(step - 1ms);
            QCOMPARE(client->calls.size(), tries);
            fakes.clock->advance(1ms);
            QCOMPARE(client->calls.size(), ++tries);
        }
        client->onSave = [](const QString&) { return SaveOutcome{u"s1"_s, false}; };
        runTask(model->loadRecent());
        QCOMPARE(client->calls.mid(8),
                 (QStringList{u"recent"_s, saveLink, u"save "_s + other, u"recent"_s}));
        client->onSave = unreachable;
        QVERIFY(outbox->add(link));
        fakes.clock->advance(30s);
        QCOMPARE(client->calls.size(), 13);
    }

    // At most 1,000 links and 4 MiB: past either, the save fails as it did without an outbox.
    // A file that can't be read or isn't the outbox's is kept aside untouched, never over an
    // earlier one kept aside in the same millisecond, and a new private file takes its place.
    // What a writer killed mid-write left is removed at the start.
    void capsAndBadFiles() {
        writeOutbox(127, 32767);
        QVERIFY(writeFile(path + u".writing-dead01"_s, "{\"li"));
        restart();
        QVERIFY(!QFile::exists(path + u".writing-dead01"_s));
        QVERIFY(!outbox->add(u"https://e.test/"_s.leftJustified(32767, u'b')));
        writeOutbox(1000, 20);
        restart();
        client->onSave = unreachable;
        save();
        QCOMPARE(model->phase(), Phase(phase::Failed{offline}));
        for (const QByteArray bytes : {"[]", "{"}) {
            QVERIFY(writeFile(path, bytes));
            restart();
        }
        QVERIFY(QDir().mkdir(path)); // a folder in its place can't be read
        QVERIFY(outbox->add(link));
        const QString aside = u"outbox.json.corrupt-20300101T000000000"_s;
        QCOMPARE(QDir(dir.path()).entryList({u"outbox.json.corrupt-*"_s}),
                 (QStringList{aside, aside + u"-1"_s, aside + u"-2"_s}));
        QCOMPARE(readFile(dir.filePath(aside)) + readFile(dir.filePath(aside + u"-1"_s)), "[]{");
        QCOMPARE(QFile::permissions(path),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    }

    // A link waits for the session it was saved under. Another session (another account, or a
    // new sign-in of the same one) sends nothing and is asked once, in the panel, whether the
    // links go to it; the menu counts only what it may send. Signing out with links waiting
    // asks whether to keep them for the next sign-in or discard them.
    void otherSession_data() {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("seen");
        const QString asked = u"ask [https://example.test/a], may send 0"_s;
        const QString sent = u" / remembered, may send 1 / delivered"_s;
        QTest::newRow("send") << "send" << asked + sent;
        QTest::newRow("discard") << "discard" << asked + " / gone";
        const QString question = u"1 link is waiting to be saved"_s;
        QTest::newRow("sign out, keep") << "keep" << question + " / signed out / " + asked + sent;
        QTest::newRow("sign out, discard") << "drop" << question + " / signed out / gone";
        // Escape or a quit: nothing is signed out, nothing discarded.
        QTest::newRow("sign out, no answer")
            << "none" << question + " / still signed in / " + asked + sent;
    }
    void otherSession() {
        QFETCH(QString, answer);
        QFETCH(QString, seen);
        client->onSave = unreachable;
        save();
        QStringList story;
        if (answer == "keep"_L1 || answer == "drop"_L1 || answer == "none"_L1) {
            fakes.alerts->answers = {answer == "drop"_L1   ? 1
                                     : answer == "none"_L1 ? Alerts::noAnswer
                                                           : 0};
            QCOMPARE(runTask(model->signOut()), answer != "none"_L1);
            story << fakes.alerts->shown.value(0).message
                  << (outbox->session() ? u"still signed in"_s : u"signed out"_s);
            QCOMPARE(fakes.alerts->shown.value(0).destructive, 1);
        }
        signIn(u"b"_s);
        runTask(model->loadRecent());
        fakes.clock->advance(1h);
        if (!model->foreign().isEmpty()) {
            story << u"ask [%1], may send %2"_s.arg(model->foreign().join(u", "_s))
                         .arg(outbox->sendableCount());
            answer == "discard"_L1 ? model->discardForeign() : model->sendForeign();
        }
        // Still unreachable: the answer holds for this session, after a restart too.
        restart();
        runTask(outbox->refreshSession());
        story << (outbox->count() ? u"remembered, may send %1"_s.arg(outbox->sendableCount())
                                  : u"gone"_s);
        client->onSave = [](const QString&) { return SaveOutcome{u"s1"_s, false}; };
        outbox->send();
        if (story.last() != "gone"_L1)
            story << (outbox->count() ? u"kept"_s : u"delivered"_s);
        QCOMPARE(story.join(u" / "_s), seen);
    }

    // A link goes only under the session it was saved under, however that changes meanwhile
    // (announced, as a sign-in in the library window is, or not yet): a round stops at the first
    // link of another session, and such links wait for the user's word. The same link saved
    // under two accounts goes to each, online or not. Posts are "link@token".
    void linksStayWithTheirSession_data() {
        QTest::addColumn<QString>("story");
        QTest::addColumn<bool>("announced");
        QTest::addColumn<QString>("seen");
        QTest::newRow("b signs in during a round")
            << "round" << true << "1@a / asks 2, 3 / 2@a2, 3@a2";
        QTest::newRow("b signs in during a round, unannounced")
            << "round" << false << "1@a / asks 2, 3 / 2@a2, 3@a2";
        QTest::newRow("same link, b online") << "online" << true << "a@b / asks a / a@a2";
        QTest::newRow("same link, b offline")
            << "offline" << true << "queued / a@b / asks a / a@a2";
    }
    void linksStayWithTheirSession() {
        QFETCH(QString, story);
        QFETCH(bool, announced);
        QFETCH(QString, seen);
        QStringList posts, told;
        bool reachable = false;
        client->onSave = [&](const QString& url) {
            if (!reachable)
                return unreachable(url);
            posts << url.section(u'/', -1) + u'@' +
                         QString::fromUtf8(fakes.cookieStore->cookies.value(0).value());
            if (story == "round"_L1 && told.isEmpty())
                signIn(u"b"_s, announced);
            return SaveOutcome{u"s1"_s, false};
        };
        const auto tell = [&] {
            told << posts.join(u", "_s);
            posts.clear();
        };
        if (story == "round"_L1) {
            for (const char* n : {"1", "2", "3"})
                QVERIFY(outbox->add(u"https://example.test/"_s + QLatin1String(n)));
            reachable = true;
            outbox->send();
        } else {
            QVERIFY(outbox->add(link));
            signIn(u"b"_s);
            reachable = story == "online"_L1;
            save();
            if (!reachable) {
                told << (model->phase() == Phase(phase::Queued{}) ? u"queued"_s : u"lost"_s);
                reachable = true;
                outbox->send();
            }
        }
        tell();
        signIn(u"a2"_s, announced);
        if (!announced)
            runTask(outbox->refreshSession());
        QStringList asked;
        for (const QString& url : model->foreign())
            asked << url.section(u'/', -1);
        told << u"asks "_s + asked.join(u", "_s);
        model->sendForeign();
        tell();
        QCOMPARE(told.join(u" / "_s), seen);
        // Signed out in the library window: the outbox and the panel know at once.
        if (announced) {
            fakes.cookieStore->replace({});
            QCOMPARE(outbox->session(), std::nullopt);
            QCOMPARE(model->phase(), Phase(phase::SignedOut{}));
        }
    }

    // A refresh asks for seven saves; one that fails for want of the network changes nothing.
    // (A refresh that finds no session: see the panel's sign-out; one that comes while signed
    // out: see outcomes.)
    void refreshOutcomes() {
        client->onRecent = [](int limit) { return QList<SaveRow>(limit, row(u"done"_s)); };
        runTask(model->loadRecent());
        client->onRecent = [](int) -> QList<SaveRow> { throw APIError(u"offline"_s, {}); };
        runTask(model->loadRecent());
        QCOMPARE(model->recent(), QList<SaveRow>(7, row(u"done"_s)));
    }
};

} // namespace pinlark

QTEST_GUILESS_MAIN(pinlark::TestQuickSaveModel)
#include "tst_quicksavemodel.moc"
