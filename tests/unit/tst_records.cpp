#include "TestSupport.h"
#include "service/APIError.h"
#include "service/DecodingError.h"
#include "service/FeedResponse.h"
#include "service/SaveResponse.h"
#include "service/SaveRow.h"

#include <QJsonDocument>
#include <QJsonObject>

Q_DECLARE_METATYPE(std::optional<QString>)

namespace pinlark {

namespace {
enum Kind { Row, Feed, Save };

QString text(const std::optional<QString>& s) {
    return s.value_or(u"-"_s);
}

// What decoding `json` as `kind` gives, in one comparable line; "fails" on a DecodingError.
QString decoded(Kind kind, const QByteArray& json) {
    try {
        if (kind == Row) {
            const SaveRow r = SaveRow::decode(json);
            const QString tags = r.tags ? u'[' + r.tags->join(u',') + u']' : u"-"_s;
            return QStringList{r.id,           text(r.url),   text(r.platform),
                               text(r.status), text(r.title), text(r.synopsis),
                               tags,           text(r.error)}
                .join(u'|');
        }
        if (kind == Feed) {
            QStringList ids;
            for (const SaveRow& r : FeedResponse::decode(json).saves.value_or(QList<SaveRow>{}))
                ids << r.id;
            return ids.join(u',');
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
    void init() { TestState::reset(); }

    // Members are exact: a member of the wrong type fails the whole body; unknown ones and
    // nulls are ignored.
    void decodes_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, Kind kind, const char* json, const char* expected) {
            QTest::newRow(name) << int(kind) << QByteArray(json) << QString::fromUtf8(expected);
        };
        row("every member", Row,
            "{\"id\":\"s1\",\"url\":\"u\",\"platform\":\"web\",\"status\":\"done\",\"title\":\"A\","
            "\"synopsis\":\"B\",\"tags\":[\"x\",\"y\"],\"error\":\"late\"}",
            "s1|u|web|done|A|B|[x,y]|late");
        row("unknown, null and differently cased members", Row,
            "{\"id\":\"s1\",\"Title\":\"T\",\"extra\":{\"n\":1},\"url\":null}", "s1|-|-|-|-|-|-|-");
        row("no id", Row, "{\"url\":\"https://example.test\"}", "fails");
        row("a tag that is not a string", Row, "{\"id\":\"s1\",\"tags\":[\"x\",null]}", "fails");
        row("one row without an id fails the feed", Feed,
            "{\"saves\":[{\"id\":\"b\"},{\"title\":\"A\"}]}", "fails");
        row("existing", Save, "{\"id\":\"s1\",\"existing\":true}", "s1 existing");
        row("existing as a string", Save, "{\"id\":\"s1\",\"existing\":\"true\"}", "fails");
    }
    void decodes() {
        QFETCH(int, kind);
        QFETCH(QByteArray, json);
        QFETCH(QString, expected);
        QCOMPARE(decoded(Kind(kind), json), expected);
    }

    // Long messages are cut to 500 characters, never inside a surrogate pair.
    void mapsFailureAnswers_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("error"); // code and message
        const auto row = [](const char* name, int status, const QByteArray& body,
                            const QString& error) {
            QTest::newRow(name) << status << body << error;
        };
        row("service code and message", 401,
            "{\"error\":\"unauthenticated\",\"message\":\"Sign in to save.\"}",
            u"unauthenticated Sign in to save."_s);
        row("HTML", 500, "<html><body>Oops</body></html>",
            u"http_500 Something went wrong. Try again."_s);
        row("a member of the wrong type fails the whole body", 400,
            "{\"error\":5,\"message\":\"Read me.\"}",
            u"http_400 Something went wrong. Try again."_s);
        const auto message = [](const QString& m) {
            return QJsonDocument(QJsonObject{{u"message"_s, m}}).toJson();
        };
        const QString a498(498, u'a'), ellipsis(QChar(0x2026));
        row("501 are cut", 400, message(a498 + u"bcd"_s), u"http_400 "_s + a498 + u'b' + ellipsis);
        row("a surrogate pair is not split", 400, message(a498 + u"\U0001F600cc"_s),
            u"http_400 "_s + a498 + ellipsis);
        row("a megabyte", 400, message(QString(1 << 20, u'x')),
            u"http_400 "_s + QString(499, u'x') + ellipsis);
    }
    void mapsFailureAnswers() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, error);
        const APIError e = APIError::fromResponse(status, body);
        QCOMPARE(e.code() + u' ' + e.message(), error);
        QCOMPARE(e.localizedDescription(), e.message());
    }

    void labelsAndOpensRows_data() {
        QTest::addColumn<std::optional<QString>>("title");
        QTest::addColumn<std::optional<QString>>("url");
        QTest::addColumn<QString>("label");
        QTest::addColumn<bool>("openable");
        const auto row = [](const char* name, std::optional<QString> title,
                            std::optional<QString> url, const QString& label, bool openable) {
            QTest::newRow(name) << title << url << label << openable;
        };
        row("blank title, www host", u" \n "_s, u"https://www.example.test/a"_s, u"example.test"_s,
            true);
        row("screenshot", {}, u"screenshot:1234"_s, u"Screenshot"_s, false);
        row("does not parse", {}, u"https://exa mple.test/"_s, u"https://exa mple.test/"_s, false);
        row("mail link", u"Mail"_s, u"mailto:a@example.test"_s, u"Mail"_s, true);
        // Only web and mail links leave the app, whatever the row's title says.
        row("file link", u"Notes"_s, u"file:///etc/passwd"_s, u"Notes"_s, false);
        row("custom scheme", u"Game"_s, u"steam://run/1"_s, u"Game"_s, false);
        row("host-less custom scheme", {}, u"x-handler:run"_s, u"x-handler:run"_s, false);
    }
    void labelsAndOpensRows() {
        QFETCH(std::optional<QString>, title);
        QFETCH(std::optional<QString>, url);
        QFETCH(QString, label);
        QFETCH(bool, openable);
        const SaveRow row{u"s1"_s, url, {}, {}, title, {}, {}, {}};
        QCOMPARE(row.display(), label);
        QCOMPARE(row.isOpenable(), openable);
    }
};

} // namespace pinlark

QTEST_GUILESS_MAIN(pinlark::TestRecords)
#include "tst_records.moc"
