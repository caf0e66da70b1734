#include "TestSupport.h"
#include "service/APIError.h"
#include "service/DecodingError.h"
#include "service/FeedResponse.h"
#include "service/SaveResponse.h"
#include "service/SaveRow.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

Q_DECLARE_METATYPE(pinlark::SaveRow)
Q_DECLARE_METATYPE(std::optional<QString>)

namespace pinlark {

namespace {
std::optional<QString> none() {
    return std::nullopt;
}
std::optional<QString> text(const char* s) {
    return QString::fromUtf8(s);
}
SaveRow rowS1() {
    SaveRow row;
    row.id = QStringLiteral("s1");
    return row;
}

// Whether decoding `json` as T fails with a DecodingError (and nothing else).
template <typename T> bool failsToDecode(const QByteArray& json) {
    try {
        T::decode(json);
    } catch (const DecodingError&) {
        return true;
    }
    return false;
}
} // namespace

class TestRecords : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { TestState::reset(); }

    void decodesRow_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("decodes");
        QTest::addColumn<SaveRow>("expected");
        const SaveRow full{QStringLiteral("s1"),
                           text("https://example.test/a"),
                           text("web"),
                           text("done"),
                           text("A"),
                           text("About a."),
                           QStringList{QStringLiteral("x"), QStringLiteral("y")},
                           text("late")};
        QTest::newRow("every member")
            << QByteArray("{\"id\":\"s1\",\"url\":\"https://example.test/a\",\"platform\":\"web\","
                          "\"status\":\"done\",\"title\":\"A\",\"synopsis\":\"About a.\","
                          "\"tags\":[\"x\",\"y\"],\"error\":\"late\"}")
            << true << full;
        QTest::newRow("only the id") << QByteArray("{\"id\":\"s1\"}") << true << rowS1();
        QTest::newRow("nulls leave fields empty")
            << QByteArray(
                   "{\"id\":\"s1\",\"url\":null,\"title\":null,\"tags\":null,\"error\":null}")
            << true << rowS1();
        QTest::newRow("unknown and differently cased members are ignored")
            << QByteArray("{\"id\":\"s1\",\"Title\":\"T\",\"extra\":{\"n\":1}}") << true << rowS1();
        SaveRow emptyTags = rowS1();
        emptyTags.tags = QStringList();
        QTest::newRow("an empty tag list is present")
            << QByteArray("{\"id\":\"s1\",\"tags\":[]}") << true << emptyTags;
        QTest::newRow("no id") << QByteArray("{\"url\":\"https://example.test\"}") << false
                               << SaveRow{};
        QTest::newRow("null id") << QByteArray("{\"id\":null}") << false << SaveRow{};
        QTest::newRow("numeric id") << QByteArray("{\"id\":7}") << false << SaveRow{};
        QTest::newRow("member name cased differently")
            << QByteArray("{\"ID\":\"s1\"}") << false << SaveRow{};
        QTest::newRow("title of the wrong type")
            << QByteArray("{\"id\":\"s1\",\"title\":false}") << false << SaveRow{};
        QTest::newRow("tags not an array")
            << QByteArray("{\"id\":\"s1\",\"tags\":\"x\"}") << false << SaveRow{};
        QTest::newRow("a tag that is not a string")
            << QByteArray("{\"id\":\"s1\",\"tags\":[\"x\",null]}") << false << SaveRow{};
        QTest::newRow("an array, not an object")
            << QByteArray("[{\"id\":\"s1\"}]") << false << SaveRow{};
        QTest::newRow("empty body") << QByteArray() << false << SaveRow{};
        QTest::newRow("HTML") << QByteArray("<html></html>") << false << SaveRow{};
        QTest::newRow("trailing garbage") << QByteArray("{\"id\":\"s1\"} x") << false << SaveRow{};
    }
    void decodesRow() {
        QFETCH(QByteArray, json);
        QFETCH(bool, decodes);
        QFETCH(SaveRow, expected);
        if (!decodes) {
            QVERIFY(failsToDecode<SaveRow>(json));
            return;
        }
        QCOMPARE(SaveRow::decode(json), expected);
    }

    void decodesFeed_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("decodes");
        QTest::addColumn<QStringList>("ids");
        QTest::newRow("empty object") << QByteArray("{}") << true << QStringList();
        QTest::newRow("null saves") << QByteArray("{\"saves\":null}") << true << QStringList();
        QTest::newRow("rows in the order received")
            << QByteArray("{\"saves\":[{\"id\":\"b\"},{\"id\":\"a\",\"title\":\"A\"}],\"next\":3}")
            << true << QStringList{QStringLiteral("b"), QStringLiteral("a")};
        QTest::newRow("one row without an id fails the feed")
            << QByteArray("{\"saves\":[{\"id\":\"b\"},{\"title\":\"A\"}]}") << false
            << QStringList();
        QTest::newRow("one element not an object")
            << QByteArray("{\"saves\":[{\"id\":\"b\"},\"a\"]}") << false << QStringList();
        QTest::newRow("saves not an array")
            << QByteArray("{\"saves\":{\"id\":\"b\"}}") << false << QStringList();
    }
    void decodesFeed() {
        QFETCH(QByteArray, json);
        QFETCH(bool, decodes);
        QFETCH(QStringList, ids);
        if (!decodes) {
            QVERIFY(failsToDecode<FeedResponse>(json));
            return;
        }
        QStringList got;
        for (const SaveRow& row : FeedResponse::decode(json).saves.value_or(QList<SaveRow>{}))
            got.append(row.id);
        QCOMPARE(got, ids);
    }

    void decodesSaveResponse_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("decodes");
        QTest::addColumn<QVariant>("existing"); // invalid: absent
        QTest::newRow("existing") << QByteArray("{\"id\":\"s1\",\"existing\":true}") << true
                                  << QVariant(true);
        QTest::newRow("new") << QByteArray("{\"id\":\"s1\"}") << true << QVariant();
        QTest::newRow("existing null")
            << QByteArray("{\"id\":\"s1\",\"existing\":null}") << true << QVariant();
        QTest::newRow("existing false")
            << QByteArray("{\"id\":\"s1\",\"existing\":false}") << true << QVariant(false);
        QTest::newRow("existing as a string")
            << QByteArray("{\"id\":\"s1\",\"existing\":\"true\"}") << false << QVariant();
        QTest::newRow("existing as a number")
            << QByteArray("{\"id\":\"s1\",\"existing\":1}") << false << QVariant();
        QTest::newRow("no id") << QByteArray("{\"existing\":true}") << false << QVariant();
    }
    void decodesSaveResponse() {
        QFETCH(QByteArray, json);
        QFETCH(bool, decodes);
        QFETCH(QVariant, existing);
        if (!decodes) {
            QVERIFY(failsToDecode<SaveResponse>(json));
            return;
        }
        const SaveResponse response = SaveResponse::decode(json);
        QCOMPARE(response.id, QStringLiteral("s1"));
        QCOMPARE(response.existing.has_value(), existing.isValid());
        if (existing.isValid())
            QCOMPARE(*response.existing, existing.toBool());
    }

    void mapsFailureAnswers_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("message");
        const QString generic = QStringLiteral("Something went wrong. Try again.");
        QTest::newRow("service code and message")
            << 401 << QByteArray("{\"error\":\"unauthenticated\",\"message\":\"Sign in to save.\"}")
            << QStringLiteral("unauthenticated") << QStringLiteral("Sign in to save.");
        QTest::newRow("HTML") << 500 << QByteArray("<html><body>Oops</body></html>")
                              << QStringLiteral("http_500") << generic;
        QTest::newRow("only a message") << 404 << QByteArray("{\"message\":\"Gone.\"}")
                                        << QStringLiteral("http_404") << QStringLiteral("Gone.");
        QTest::newRow("only a code")
            << 400 << QByteArray("{\"error\":\"bad_url\"}") << QStringLiteral("bad_url") << generic;
        QTest::newRow("empty object")
            << 422 << QByteArray("{}") << QStringLiteral("http_422") << generic;
        QTest::newRow("empty body") << 503 << QByteArray() << QStringLiteral("http_503") << generic;
        QTest::newRow("a member of the wrong type fails the whole body")
            << 400 << QByteArray("{\"error\":5,\"message\":\"Read me.\"}")
            << QStringLiteral("http_400") << generic;
        QTest::newRow("a redirect that was not followed")
            << 304 << QByteArray() << QStringLiteral("http_304") << generic;
    }
    void mapsFailureAnswers() {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, code);
        QFETCH(QString, message);
        const APIError error = APIError::fromResponse(status, body);
        QCOMPARE(error.code(), code);
        QCOMPARE(error.message(), message);
        QCOMPARE(error.localizedDescription(), message);
    }

    void labelsAndOpensRows_data() {
        QTest::addColumn<std::optional<QString>>("title");
        QTest::addColumn<std::optional<QString>>("url");
        QTest::addColumn<QString>("label");
        QTest::addColumn<bool>("openable");
        QTest::newRow("blank title, www host") << text(" \n ") << text("https://www.example.test/a")
                                               << QStringLiteral("example.test") << true;
        QTest::newRow("title trimmed")
            << text("  Word \t") << text("https://example.test") << QStringLiteral("Word") << true;
        QTest::newRow("title trimmed of Unicode spaces and line separators")
            << text("\u3000Word\u2028") << none() << QStringLiteral("Word") << false;
        QTest::newRow("empty title")
            << text("") << text("https://example.test/") << QStringLiteral("example.test") << true;
        QTest::newRow("www. removed anywhere in the host")
            << none() << text("https://news.www.example.test/")
            << QStringLiteral("news.example.test") << true;
        QTest::newRow("screenshot")
            << none() << text("screenshot:1234") << QStringLiteral("Screenshot") << false;
        QTest::newRow("screenshot prefix is case-sensitive")
            << none() << text("Screenshot:1234") << QStringLiteral("Screenshot:1234") << true;
        QTest::newRow("no scheme: parses without a host")
            << none() << text("example.test/path") << QStringLiteral("example.test/path") << false;
        QTest::newRow("mail link: a scheme, no host")
            << none() << text("mailto:someone@example.test")
            << QStringLiteral("mailto:someone@example.test") << true;
        QTest::newRow("does not parse") << none() << text("https://exa mple.test/")
                                        << QStringLiteral("https://exa mple.test/") << false;
        QTest::newRow("empty url") << none() << text("") << QString() << false;
        QTest::newRow("neither title nor url") << none() << none() << QStringLiteral("s1") << false;
    }
    void labelsAndOpensRows() {
        QFETCH(std::optional<QString>, title);
        QFETCH(std::optional<QString>, url);
        QFETCH(QString, label);
        QFETCH(bool, openable);
        SaveRow row = rowS1();
        row.title = title;
        row.url = url;
        QCOMPARE(row.display(), label);
        QCOMPARE(row.isOpenable(), openable);
    }

    void cutsLongMessagesShort_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        const QString a498(498, QLatin1Char('a'));
        const QString ellipsis(QChar(0x2026));
        QTest::newRow("500 characters stay")
            << a498 + QStringLiteral("bc") << a498 + QStringLiteral("bc");
        QTest::newRow("501 are cut")
            << a498 + QStringLiteral("bcd") << a498 + QStringLiteral("b") + ellipsis;
        QTest::newRow("a surrogate pair is not split")
            << a498 + QStringLiteral("\U0001F600cc") << a498 + ellipsis;
        QTest::newRow("a megabyte")
            << QString(1 << 20, QLatin1Char('x')) << QString(499, QLatin1Char('x')) + ellipsis;
    }
    void cutsLongMessagesShort() {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        const QByteArray body =
            QJsonDocument(QJsonObject{{QStringLiteral("message"), message}}).toJson();
        QCOMPARE(APIError::fromResponse(400, body).message(), shown);
    }
};

} // namespace pinlark

QTEST_GUILESS_MAIN(pinlark::TestRecords)
#include "tst_records.moc"
