#include "Pages.h"

#include <QJsonDocument>
#include <QRegularExpression>

namespace pinlark::devservice::pages {

namespace {

QString page(const QString& title, const QString& body) {
    return QStringLiteral("<!doctype html>\n<html><head><meta charset=\"utf-8\">"
                          "<meta name=\"viewport\" content=\"width=device-width\">"
                          "<title>%1</title></head>\n<body>\n%2\n</body></html>\n")
        .arg(title.toHtmlEscaped(), body);
}

// JSON that is safe inside a <script> element: no "<", ">" or "&" that could end it.
QString scriptJson(const QJsonObject& object) {
    QString json = QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
    json.replace(QLatin1Char('<'), QLatin1String("\\u003c"))
        .replace(QLatin1Char('>'), QLatin1String("\\u003e"))
        .replace(QLatin1Char('&'), QLatin1String("\\u0026"));
    return json;
}

} // namespace

QString signIn(const QString& next, const QString& problem) {
    QString body = QStringLiteral("<h1>Sign in to Pinlark</h1>\n");
    if (!problem.isEmpty())
        body += QStringLiteral("<p class=\"problem\">%1</p>\n").arg(problem.toHtmlEscaped());
    body += QStringLiteral("<form method=\"post\" action=\"/signin\">\n"
                           "<label>Email <input type=\"email\" name=\"email\" required "
                           "autofocus></label>\n"
                           "<input type=\"hidden\" name=\"next\" value=\"%1\">\n"
                           "<button type=\"submit\">Sign in</button>\n</form>")
                .arg(next.toHtmlEscaped());
    return page(QStringLiteral("Sign in"), body);
}

QString saves(const QString& account, const QJsonArray& rows) {
    QString body =
        QStringLiteral("<h1>Saves</h1>\n<p>Signed in as %1.</p>\n").arg(account.toHtmlEscaped());
    if (rows.isEmpty())
        return page(QStringLiteral("Saves"), body + QStringLiteral("<p>Nothing saved yet.</p>"));
    body += QStringLiteral("<ul class=\"saves\">\n");
    for (const QJsonValue& row : rows) {
        const QString title = row[QLatin1String("title")].toString();
        const QString url = row[QLatin1String("url")].toString();
        body += QStringLiteral("<li data-id=\"%1\" data-status=\"%2\"><a href=\"%3\">%4</a></li>\n")
                    .arg(row[QLatin1String("id")].toString().toHtmlEscaped(),
                         row[QLatin1String("status")].toString().toHtmlEscaped(),
                         url.toHtmlEscaped(), (title.isEmpty() ? url : title).toHtmlEscaped());
    }
    return page(QStringLiteral("Saves"), body + QStringLiteral("</ul>"));
}

QString connect(int port, const QJsonObject& handBack) {
    const QString script = QStringLiteral(R"(<script>
const handBack = %1;
const statusLine = document.getElementById("status");
fetch("http://127.0.0.1:%2/", {
  method: "POST",
  headers: {"Content-Type": "application/json"},
  body: JSON.stringify(handBack),
}).then((response) => response.json())
  .then((answer) => {
    const ok = answer && answer.ok === true;
    statusLine.dataset.result = ok ? "ok" : "refused";
    statusLine.textContent = ok ? "You're signed in to Pinlark. You can close this tab."
                            : "Pinlark didn't accept the sign-in. Start it again from the app.";
  })
  .catch(() => {
    statusLine.dataset.result = "unreachable";
    statusLine.textContent = "Couldn't reach Pinlark. Start the sign-in again from the app.";
  });
</script>)")
                               .arg(scriptJson(handBack), QString::number(port));
    return page(QStringLiteral("Connecting Pinlark"),
                QStringLiteral("<h1>Connecting Pinlark</h1>\n<p id=\"status\" "
                               "data-result=\"pending\">Handing your session to the app…</p>\n") +
                    script);
}

QString download(const std::optional<QJsonObject>& manifest) {
    if (!manifest)
        return page(QStringLiteral("Download Pinlark"),
                    QStringLiteral("<h1>Download Pinlark</h1>\n<p>No release yet.</p>"));
    const QString version = manifest->value(QLatin1String("version")).toString();
    const QString url = manifest->value(QLatin1String("url")).toString();
    QString body = QStringLiteral("<h1>Download Pinlark</h1>\n<p>The newest release is %1.</p>\n")
                       .arg(version.toHtmlEscaped());
    if (!url.isEmpty())
        body +=
            QStringLiteral("<p><a class=\"release\" href=\"/%1\">Download Pinlark %2</a></p>")
                .arg(QString(url).remove(QRegularExpression(QStringLiteral("^/+"))).toHtmlEscaped(),
                     version.toHtmlEscaped());
    return page(QStringLiteral("Download Pinlark"), body);
}

QString problem(const QString& title, const QString& text) {
    return page(
        title,
        QStringLiteral("<h1>%1</h1>\n<p>%2</p>").arg(title.toHtmlEscaped(), text.toHtmlEscaped()));
}

} // namespace pinlark::devservice::pages
