#include "TestSupport.h"
#include "service/APIError.h"
#include "service/DecodingError.h"
#include "service/FeedResponse.h"
#include "service/SaveResponse.h"
#include "service/SaveRow.h"

#include <QJsonDocument>
#include <QJsonObject>

using namespace pinlark;

namespace {
// A row's fields, its label and whether it opens, a feed's ids, a save's answer, or the error
// an answer of the service that is not a success maps to (its "status body").
enum Kind { Row, Label, Feed, Save, Failure };

// What decoding `json` as `kind` gives, in one comparable line; "fails" on a DecodingError.
QString decoded(Kind kind, const QByteArray& json) {
    const auto text = [](const std::optional<QString>& s) { return s.value_or(u"-"_s); };
    try {
        if (kind == Row) {
            const SaveRow r = SaveRow::decode(json);
            const QString tags = r.tags ? u'[' + r.tags->join(u',') + u']' : u"-"_s;
            return QStringList{r.id,           text(r.url),   text(r.platform),
                               text(r.status), text(r.title), text(r.synopsis),
                               tags,           text(r.error)}
                .join(u'|');
        }
        if (kind == Label) {
            const SaveRow r = SaveRow::decode(json);
            return r.display() + (r.isOpenable() ? u", opens"_s : QString());
        }
        if (kind == Feed) {
            QStringList ids;
            for (const SaveRow& r : FeedResponse::decode(json).saves.value_or(QList<SaveRow>{}))
                ids << r.id;
            return ids.join(u',');
        }
        if (kind == Failure) {
            const APIError e = APIError::fromResponse(json.split(' ')[0].toInt(), json.mid(4));
            return e.code() + u' ' + e.message() +
                   (e.localizedDescription() == e.message() ? u""_s : u" (described otherwise)"_s);
        }
        const SaveResponse s = SaveResponse::decode(json);
        return s.id + (s.existing ? (*s.existing ? u" existing"_s : u" new"_s) : u" -"_s);
    } catch (const DecodingError&) {
        return u"fails"_s;
    }
}
} // namespace

class TestRecords : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Members are exact: a member of the wrong type fails the whole body; unknown ones and
    // nulls are ignored.
    void decodes_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, Kind kind, const QByteArray& json,
                            const QString& expected) {
            QTest::newRow(name) << int(kind) << json << expected;
        };
        row("every member", Row,
            R"({"id":"s1","url":"u","platform":"web","status":"done","title":"A","synopsis":"B",)"
            R"("tags":["x","y"],"error":"late"})",
            "s1|u|web|done|A|B|[x,y]|late");
        row("unknown, null and differently cased members", Row,
            R"({"id":"s1","Title":"T","extra":{"n":1},"url":null})", "s1|-|-|-|-|-|-|-");
        row("no id", Row, "{\"url\":\"https://example.test\"}", "fails");
        row("a tag that is not a string", Row, R"({"id":"s1","tags":["x",null]})", "fails");
        row("one row without an id fails the feed", Feed, R"({"saves":[{"id":"b"},{"title":"A"}]})",
            "fails");
        row("existing", Save, R"({"id":"s1","existing":true})", "s1 existing");
        row("existing as a string", Save, R"({"id":"s1","existing":"true"})", "fails");
        // A row's label and whether it opens: only web and mail links leave the app, whatever
        // the row's title says.
        row("blank title, www host", Label,
            "{\"id\":\"s\",\"title\":\" \\n \",\"url\":\"https://www.example.test/a\"}",
            "example.test, opens");
        row("screenshot", Label, R"({"id":"s","url":"screenshot:1234"})", "Screenshot");
        row("does not parse", Label, "{\"id\":\"s\",\"url\":\"https://exa mple.test/\"}",
            "https://exa mple.test/");
        row("mail link", Label, R"({"id":"s","title":"Mail","url":"mailto:a@example.test"})",
            "Mail, opens");
        row("file link", Label, "{\"id\":\"s\",\"title\":\"Notes\",\"url\":\"file:///etc/passwd\"}",
            "Notes");
        // Long messages are cut to 500 characters, never inside a surrogate pair.
        row("service code and message", Failure,
            R"(401 {"error":"unauthenticated","message":"Sign in to save."})",
            "unauthenticated Sign in to save.");
        row("HTML", Failure, "500 <html><body>Oops</body></html>",
            "http_500 Something went wrong. Try again.");
        row("a member of the wrong type fails the whole answer", Failure,
            R"(400 {"error":5,"message":"Read me."})", "http_400 Something went wrong. Try again.");
        const auto message = [](const QString& m) {
            return "400 " + QJsonDocument(QJsonObject{{u"message"_s, m}}).toJson();
        };
        const QString a498(498, u'a'), ellipsis(QChar(0x2026));
        row("501 are cut", Failure, message(a498 + u"bcd"_s),
            u"http_400 "_s + a498 + u'b' + ellipsis);
        row("a surrogate pair is not split", Failure, message(a498 + u"\U0001F600cc"_s),
            u"http_400 "_s + a498 + ellipsis);
        row("500 are kept", Failure, message(QString(500, u'x')),
            u"http_400 "_s + QString(500, u'x'));
    }
    void decodes() {
        QFETCH(int, kind);
        QFETCH(QByteArray, json);
        QFETCH(QString, expected);
        QCOMPARE(decoded(Kind(kind), json), expected);
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
