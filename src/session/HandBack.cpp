#include "session/HandBack.h"

#include "session/HttpRequestReader.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace pinlark {

const char HandBack::badOrigin[] = "bad_origin";

namespace {
QByteArray errorBody(const char* code) {
    return QByteArray(R"({"error":")") + code + R"("})";
}

// Absent means true; false and the number 0 mean false; anything else means true.
bool secureFlag(const QJsonValue& value) {
    if (value.isBool())
        return value.toBool();
    if (value.isDouble())
        return value.toDouble() != 0;
    return true;
}
} // namespace

HandBack::Answer HandBack::route(const QString& head, const QByteArray& body,
                                 const QString& expectedState, const QString& acceptedOrigin) {
    const std::optional<QString> origin = HttpRequestReader::header(u"origin", head);
    const bool accepted = origin && *origin == acceptedOrigin;
    const auto cors = accepted ? origin : std::nullopt;

    if (HttpRequestReader::method(head) == QLatin1String("OPTIONS"))
        return {204, {}, cors, {}};
    if (!accepted)
        return {403, errorBody(badOrigin), {}, {}};

    const QJsonDocument document = QJsonDocument::fromJson(body);
    const QJsonObject object = document.object();
    const QJsonValue token = object.value(QLatin1String("token"));
    const QJsonValue cookieName = object.value(QLatin1String("cookieName"));
    const QJsonValue state = object.value(QLatin1String("state"));
    if (!document.isObject() || !token.isString() || !cookieName.isString() || !state.isString())
        return {400, errorBody("bad_body"), cors, {}};
    if (!constantTimeEquals(state.toString().toUtf8(), expectedState.toUtf8()))
        return {403, errorBody("bad_state"), cors, {}};
    return {200, QByteArrayLiteral(R"({"ok":true})"), cors,
            Session{token.toString(), cookieName.toString(),
                    secureFlag(object.value(QLatin1String("secure")))}};
}

QByteArray HandBack::response(int status, const QByteArray& body,
                              const std::optional<QString>& origin) {
    QByteArray r =
        "HTTP/1.1 " + QByteArray::number(status) + (status == 200 ? " OK" : " -") + "\r\n";
    if (origin) {
        r += "access-control-allow-origin: " + origin->toUtf8() + "\r\n";
        r += "access-control-allow-methods: POST, OPTIONS\r\n"
             "access-control-allow-headers: content-type\r\n"
             "access-control-allow-private-network: true\r\n"
             "access-control-max-age: 600\r\n"
             "vary: origin\r\n";
    }
    r += "content-type: application/json\r\ncontent-length: " + QByteArray::number(body.size()) +
         "\r\nconnection: close\r\n\r\n";
    return r + body;
}

QString HandBack::acceptedOrigin(const QString& origin) {
    qsizetype start = 0;
    qsizetype end = origin.size();
    while (start < end && origin[start] == u'/')
        ++start;
    while (end > start && origin[end - 1] == u'/')
        --end;
    return origin.sliced(start, end - start);
}

bool HandBack::constantTimeEquals(const QByteArray& a, const QByteArray& b) {
    // The length of the state is no secret; its bytes are.
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

} // namespace pinlark
