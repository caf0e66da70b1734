#include "Pages.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonValue>
#include <QRegularExpression>
#include <QUrl>

namespace pinlark::devservice::pages {

namespace {

QString page(const QString& title, const QString& body) {
    return QStringLiteral("<!doctype html>\n<html><head><meta charset=\"utf-8\">"
                          "<meta name=\"viewport\" content=\"width=device-width\">"
                          "<link rel=\"stylesheet\" href=\"/style.css\">"
                          "<title>%1</title></head>\n<body><main>\n%2\n</main></body></html>\n")
        .arg(title.toHtmlEscaped(), body);
}

// One save as a list item. Only an http(s) link becomes a link.
QString saveItem(const QJsonObject& row) {
    const QString url = row[QLatin1String("url")].toString();
    const QString title = row[QLatin1String("title")].toString();
    const QString status = row[QLatin1String("status")].toString();
    const QUrl parsed(url);
    const bool web =
        parsed.scheme() == QLatin1String("http") || parsed.scheme() == QLatin1String("https");
    const QString shown = (title.isEmpty() ? url : title).toHtmlEscaped();
    QString item =
        QStringLiteral("<li data-id=\"%1\" data-status=\"%2\">\n")
            .arg(row[QLatin1String("id")].toString().toHtmlEscaped(), status.toHtmlEscaped());
    item += web ? QStringLiteral("<a class=\"title\" href=\"%1\">%2</a>\n")
                      .arg(url.toHtmlEscaped(), shown)
                : QStringLiteral("<span class=\"title\">%1</span>\n").arg(shown);
    item += QStringLiteral("<div class=\"meta\">");
    if (!parsed.host().isEmpty())
        item += QStringLiteral("<span class=\"host\">%1</span>").arg(parsed.host().toHtmlEscaped());
    for (const QJsonValue& tag : row[QLatin1String("tags")].toArray())
        item += QStringLiteral("<span class=\"tag\">%1</span>").arg(tag.toString().toHtmlEscaped());
    item += QStringLiteral("<span class=\"status status-%1\">%1</span></div>\n")
                .arg(status.toHtmlEscaped());
    const QString error = row[QLatin1String("error")].toString();
    if (!error.isEmpty())
        item += QStringLiteral("<p class=\"error\">%1</p>\n").arg(error.toHtmlEscaped());
    return item + QStringLiteral("</li>\n");
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
    static const QString script = QStringLiteral(R"(<script>
let stamp = document.getElementById("saves").dataset.stamp;
async function refresh() {
  if (document.visibilityState !== "visible")
    return;
  try {
    const answer = await fetch("/saves/list?since=" + encodeURIComponent(stamp),
                               {cache: "no-store"});
    if (answer.status === 401) {
      location.reload(); // signed out: the sign-in page
      return;
    }
    const list = answer.ok ? await answer.json() : {};
    if (typeof list.html === "string") {
      document.getElementById("saves").outerHTML = list.html;
      stamp = list.stamp;
    }
  } catch (error) {
    // The service is away for now; the next turn asks again.
  }
}
setInterval(refresh, 3000);
document.addEventListener("visibilitychange", refresh);
</script>)");
    return page(QStringLiteral("Saves"),
                QStringLiteral("<h1>Saves</h1>\n<p class=\"muted\">Signed in as %1.</p>\n")
                        .arg(account.toHtmlEscaped()) +
                    savesList(rows, {})[QLatin1String("html")].toString() + script);
}

QJsonObject savesList(const QJsonArray& rows, const QString& since) {
    const QString stamp = QString::fromLatin1(
        QCryptographicHash::hash(QJsonDocument(rows).toJson(QJsonDocument::Compact),
                                 QCryptographicHash::Sha256)
            .toHex()
            .left(16));
    QJsonObject answer{{QStringLiteral("stamp"), stamp}};
    if (since == stamp)
        return answer;
    QString html = QStringLiteral("<section id=\"saves\" data-stamp=\"%1\">\n").arg(stamp);
    if (rows.isEmpty()) {
        html += QStringLiteral("<p class=\"empty\">Nothing saved yet.</p>\n");
    } else {
        html += QStringLiteral("<ol class=\"saves\">\n");
        for (const QJsonValue& row : rows)
            html += saveItem(row.toObject());
        html += QStringLiteral("</ol>\n");
    }
    answer.insert(QStringLiteral("html"), html + QStringLiteral("</section>\n"));
    return answer;
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

QString stylesheet() {
    return QStringLiteral(R"(:root {
  color-scheme: light dark;
  --page: #f5f5f3; --text: #1d1d1f; --muted: #6e6e73; --card: #ffffff; --line: #e2e2de;
  --accent: #2f62e0; --done: #1d8a4b; --waiting: #a86400; --failed: #c4312b;
}
@media (prefers-color-scheme: dark) {
  :root {
    --page: #1b1b1d; --text: #f2f2f4; --muted: #a1a1a8; --card: #2a2a2d; --line: #3b3b3f;
    --accent: #86a8ff; --done: #52c784; --waiting: #e6aa4e; --failed: #ff7a72;
  }
}
* { box-sizing: border-box; }
body {
  margin: 0; background: var(--page); color: var(--text);
  font: 15px/1.5 system-ui, -apple-system, "Segoe UI", Cantarell, "Noto Sans", Ubuntu, Roboto,
    "Helvetica Neue", Arial, sans-serif;
}
main { max-width: 42rem; margin: 0 auto; padding: 3rem 1.25rem; }
h1 { font-size: 1.6rem; line-height: 1.2; margin: 0 0 .5rem; letter-spacing: -.01em; }
p { margin: .5rem 0; }
a { color: var(--accent); }
.muted { color: var(--muted); }
.problem, .error, [data-result=refused], [data-result=unreachable] { color: var(--failed); }
[data-result=ok] { color: var(--done); }
form {
  display: grid; gap: 1rem; max-width: 24rem; margin-top: 1.5rem; padding: 1.25rem;
  background: var(--card); border: 1px solid var(--line); border-radius: 12px;
}
label { display: grid; gap: .4rem; font-weight: 600; }
input {
  font: inherit; padding: .55rem .7rem; color: var(--text); background: var(--page);
  border: 1px solid var(--line); border-radius: 8px;
}
input:focus { outline: 2px solid var(--accent); outline-offset: 1px; }
button {
  justify-self: start; font: inherit; font-weight: 600; padding: .5rem 1.1rem; color: #fff;
  background: var(--accent); border: 0; border-radius: 8px; cursor: pointer;
}
@media (prefers-color-scheme: dark) { button { color: #10131a; } }
.saves {
  list-style: none; margin: 1.5rem 0 0; padding: 0;
  background: var(--card); border: 1px solid var(--line); border-radius: 12px;
}
.saves li { padding: .8rem 1.1rem; border-top: 1px solid var(--line); }
.saves li:first-child { border-top: 0; }
.saves .title { font-weight: 600; color: var(--text); text-decoration: none; overflow-wrap: anywhere; }
.saves a.title:hover { text-decoration: underline; }
.meta {
  display: flex; flex-wrap: wrap; align-items: center; gap: .35rem .6rem; margin-top: .25rem;
  font-size: .85rem; color: var(--muted);
}
.tag { padding: 0 .5rem; border-radius: 999px; background: var(--line); color: var(--text); }
.status { margin-left: auto; font-weight: 600; text-transform: capitalize; }
.status-done { color: var(--done); }
.status-queued, .status-processing { color: var(--waiting); }
.status-error { color: var(--failed); }
.error { margin: .25rem 0 0; font-size: .85rem; }
)");
}

QString problem(const QString& title, const QString& text) {
    return page(
        title,
        QStringLiteral("<h1>%1</h1>\n<p>%2</p>").arg(title.toHtmlEscaped(), text.toHtmlEscaped()));
}

} // namespace pinlark::devservice::pages
