#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace pinlark::devservice {

// The service's HTML pages. Every text from a request is escaped before it reaches a page.
namespace pages {

// The sign-in form; it posts "email" (and `next`, the page to come back to) to "signin".
QString signIn(const QString& next, const QString& problem = {});
// The signed-in user's saves as given (newest first): title or link, host, tags and status.
// While it is visible, the page asks "saves/list" every few seconds and shows what changed.
QString saves(const QString& account, const QJsonArray& rows);
// What "saves/list?since=STAMP" answers for `rows`: {"stamp"}, and "html", the list as the page
// shows it, when `since` is not the rows' stamp.
QJsonObject savesList(const QJsonArray& rows, const QString& since);
// The browser sign-in hand-off: posts the session to the app's loopback listener on `port`
// and shows the app's answer.
QString connect(int port, const QJsonObject& handBack);
// A link to the newest release, or word that there is none.
QString download(const std::optional<QJsonObject>& manifest);
// A short page for a request the service refuses.
QString problem(const QString& title, const QString& text);
// The one stylesheet every page links to ("/style.css"): the system's font, light and dark.
QString stylesheet();

} // namespace pages

} // namespace pinlark::devservice
