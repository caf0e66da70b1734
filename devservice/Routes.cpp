#include "Routes.h"

#include "LinkFacts.h"
#include "Pages.h"
#include "Releases.h"
#include "Store.h"

#include <httplib.h>

#include <QJsonDocument>
#include <QRegularExpression>

#include <chrono>
#include <cstdio>
#include <thread>

namespace pinlark::devservice {

namespace {

using httplib::Request;
using httplib::Response;

const char* const sessionCookie = "authjs.session-token";
const char* const secureSessionCookie = "__Secure-authjs.session-token";

QString text(const std::string& s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

// With the charset parameter the server leaves the body uncompressed: compressing a few dozen
// bytes costs more time than it saves.
void sendJson(Response& res, int status, const QJsonDocument& document) {
    res.status = status;
    res.set_content(document.toJson(QJsonDocument::Compact).toStdString(),
                    "application/json; charset=utf-8");
}
void sendJson(Response& res, int status, const QJsonObject& object) {
    sendJson(res, status, QJsonDocument(object));
}
void sendError(Response& res, int status, const char* code, const QString& message) {
    sendJson(res, status,
             QJsonObject{{QStringLiteral("error"), QLatin1String(code)},
                         {QStringLiteral("message"), message}});
}
void sendPage(Response& res, int status, const QString& html) {
    res.status = status;
    res.set_header("Cache-Control", "no-store");
    res.set_content(html.toStdString(), "text/html; charset=utf-8");
}
void redirect(Response& res, const std::string& location) {
    res.status = 303;
    res.set_header("Location", location);
}

// The request as GET dev/requests reports it.
QJsonObject describe(const Request& req) {
    static const char* const internal[] = {"REMOTE_ADDR", "REMOTE_PORT", "LOCAL_ADDR",
                                           "LOCAL_PORT"};
    QJsonObject headers;
    for (const auto& [name, value] : req.headers) {
        if (std::any_of(std::begin(internal), std::end(internal),
                        [&](const char* n) { return name == n; }))
            continue;
        const QString key = text(name).toLower();
        const QString previous = headers.value(key).toString();
        headers.insert(key, previous.isEmpty() ? text(value)
                                               : previous + QLatin1String(", ") + text(value));
    }
    const auto question = req.target.find('?');
    return QJsonObject{
        {QStringLiteral("method"), text(req.method)},
        {QStringLiteral("path"), text(req.path)},
        {QStringLiteral("query"),
         question == std::string::npos ? QString() : text(req.target.substr(question + 1))},
        {QStringLiteral("headers"), headers},
        {QStringLiteral("body"), text(req.body)},
    };
}

// Whether the request reached us over https (through a TLS-terminating proxy).
bool overHttps(const Request& req) {
    return QString::fromStdString(req.get_header_value("X-Forwarded-Proto")).toLower() ==
           QLatin1String("https");
}

std::optional<QString> cookieValue(const Request& req, const char* name) {
    const QString header = text(req.get_header_value("Cookie"));
    for (const QString& pair : header.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString trimmed = pair.trimmed();
        const qsizetype equals = trimmed.indexOf(QLatin1Char('='));
        if (equals > 0 && trimmed.left(equals) == QLatin1String(name))
            return trimmed.mid(equals + 1);
    }
    return std::nullopt;
}

// A path on this service to come back to after signing in, or "/saves".
QString safeNext(const QString& next) {
    if (next.startsWith(QLatin1Char('/')) && !next.startsWith(QLatin1String("//")) &&
        !next.contains(QLatin1Char('\\')) &&
        std::none_of(next.begin(), next.end(), [](QChar c) { return c.unicode() < 0x20; }))
        return next;
    return QStringLiteral("/saves");
}

int limitOf(const Request& req) {
    bool ok = false;
    const qlonglong limit = text(req.get_param_value("limit")).toLongLong(&ok);
    return ok ? int(std::clamp<qlonglong>(limit, 1, 100)) : 20;
}

} // namespace

Routes::Routes(httplib::Server& server, Store& store, const Releases& releases, bool devRoutes)
    : m_server(server)
    , m_store(store)
    , m_releases(releases)
    , m_devRoutes(devRoutes) {
    using S = httplib::Server;
    if (m_devRoutes) {
        m_server.Get("/dev/requests", [this](const Request&, Response& res) {
            sendJson(res, 200, QJsonDocument(m_requests.all()));
        });
        m_server.Delete("/dev/requests", [this](const Request&, Response& res) {
            m_requests.clear();
            res.status = 204;
        });
        // How saves are answered, for tests of a client's failures: {"hold": true} keeps each
        // save's answer back (after storing it) until it is set false again; {"portal": true}
        // answers every save as a captive portal would, with a 403 HTML page, storing nothing.
        m_server.Put("/dev/saves", [this](const Request& req, Response& res) {
            const QJsonObject options =
                QJsonDocument::fromJson(QByteArray::fromStdString(req.body)).object();
            m_holdSaves = options.value(QLatin1String("hold")).toBool();
            m_portal = options.value(QLatin1String("portal")).toBool();
            res.status = 204;
        });
    }
    // Not recorded: the log of requests is about what the app asks for, not the pages' styling.
    m_server.Get("/style.css", [](const Request&, Response& res) {
        res.set_header("Cache-Control", "max-age=3600");
        res.set_content(pages::stylesheet().toStdString(), "text/css; charset=utf-8");
    });
    // Nor the saves page asking for changes every few seconds.
    m_server.Get("/saves/list", [this](const Request& req, Response& res) {
        if (const auto session = apiSession(req, res))
            sendJson(res, 200,
                     pages::savesList(m_store.recent(session->account, 100),
                                      text(req.get_param_value("since"))));
    });

    route(&S::Get, "/", &Routes::home);
    route(&S::Get, "/signin", &Routes::signInForm);
    route(&S::Post, "/signin", &Routes::signIn);
    route(&S::Get, "/saves", &Routes::savesPage);
    route(&S::Get, "/connect/mac", &Routes::connectPage);
    route(&S::Get, "/download", &Routes::downloadPage);
    route(&S::Get, "/api/mac/version", &Routes::manifest);
    route(&S::Get, "/releases/([^/]+)", &Routes::archive);
    route(&S::Post, "/api/saves", &Routes::save);
    route(&S::Get, "/api/saves", &Routes::recent);
    route(&S::Get, "/api/saves/([^/]+)", &Routes::one);
    const Register everyMethod[] = {&S::Get, &S::Post, &S::Put, &S::Patch, &S::Delete, &S::Options};
    for (Register method : everyMethod) {
        route(method, "/api/.*", &Routes::unknownApi);
        route(method, ".*", &Routes::notFound);
    }

    // A query the database refused.
    m_server.set_exception_handler([](const Request&, Response& res, std::exception_ptr error) {
        try {
            std::rethrow_exception(std::move(error));
        } catch (const StoreError& e) {
            std::fprintf(stderr, "pinlark-devservice: %s\n", e.what());
        } catch (...) {
        }
        sendError(res, 503, "unavailable", QStringLiteral("The service can't answer right now."));
    });
    // Answers the server gives by itself (a body over the limit, a request it can't read) carry
    // an error body too.
    m_server.set_error_handler(S::HandlerWithResponse([](const Request&, Response& res) {
        if (!res.body.empty())
            return S::HandlerResponse::Unhandled;
        switch (res.status) {
        case 413:
            sendError(res, 413, "too_large", QStringLiteral("That request is too large."));
            break;
        case 411:
            sendError(res, 411, "length_required",
                      QStringLiteral("Send the length of the request body."));
            break;
        case 404:
            sendError(res, 404, "not_found", QStringLiteral("Nothing here."));
            break;
        default:
            sendError(res, res.status, "bad_request",
                      QStringLiteral("That request can't be read."));
        }
        return S::HandlerResponse::Handled;
    }));
}

void Routes::route(Register method, const char* pattern, Handler handler) {
    (m_server.*method)(pattern, [this, handler](const Request& req, Response& res) {
        if (m_devRoutes)
            m_requests.record(describe(req));
        (this->*handler)(req, res);
    });
}

std::optional<Routes::Session> Routes::sessionOf(const Request& req, bool acceptBearer) const {
    const auto accept = [&](const QString& token,
                            const char* cookieName) -> std::optional<Session> {
        if (const auto account = m_store.accountOf(token))
            return Session{token, *account, QLatin1String(cookieName)};
        return std::nullopt;
    };
    if (acceptBearer) {
        const QString authorization = text(req.get_header_value("Authorization"));
        if (authorization.startsWith(QLatin1String("Bearer ")))
            return accept(authorization.mid(7), "");
    }
    for (const char* name : {secureSessionCookie, sessionCookie}) {
        if (const auto token = cookieValue(req, name)) {
            if (auto session = accept(*token, name))
                return session;
        }
    }
    return std::nullopt;
}

std::optional<Routes::Session> Routes::apiSession(const Request& req, Response& res) const {
    auto session = sessionOf(req, true);
    if (!session)
        sendError(res, 401, "unauthenticated", QStringLiteral("Sign in to save."));
    return session;
}

void Routes::home(const Request&, Response& res) {
    redirect(res, "/saves");
}

void Routes::signInForm(const Request& req, Response& res) {
    sendPage(res, 200, pages::signIn(safeNext(text(req.get_param_value("next")))));
}

void Routes::signIn(const Request& req, Response& res) {
    const QString email = text(req.get_param_value("email")).trimmed();
    const QString next = safeNext(text(req.get_param_value("next")));
    static const QRegularExpression plausible(QStringLiteral("^[^@\\s]+@[^@\\s]+$"));
    if (email.size() > 254 || !plausible.match(email).hasMatch()) {
        sendPage(res, 400, pages::signIn(next, QStringLiteral("Enter your email address.")));
        return;
    }
    const QString token = m_store.signIn(email);
    // The "__Secure-" prefix and the Secure attribute belong to sessions made over https only.
    const QString cookie =
        overHttps(req)
            ? QStringLiteral("%1=%2; Path=/; HttpOnly; Secure")
                  .arg(QLatin1String(secureSessionCookie), token)
            : QStringLiteral("%1=%2; Path=/; HttpOnly").arg(QLatin1String(sessionCookie), token);
    res.set_header("Set-Cookie", cookie.toStdString());
    redirect(res, next.toStdString());
}

void Routes::savesPage(const Request& req, Response& res) {
    const auto session = sessionOf(req, false);
    if (!session) {
        redirect(res, "/signin");
        return;
    }
    sendPage(res, 200, pages::saves(session->account, m_store.recent(session->account, 100)));
}

void Routes::connectPage(const Request& req, Response& res) {
    bool ok = false;
    const int port = text(req.get_param_value("port")).toInt(&ok);
    const QString state = text(req.get_param_value("state"));
    if (!ok || port < 1 || port > 65535 || state.isEmpty()) {
        sendPage(res, 400,
                 pages::problem(QStringLiteral("Sign-in link incomplete"),
                                QStringLiteral("Start the sign-in again from the app.")));
        return;
    }
    const auto session = sessionOf(req, false);
    if (!session) {
        // Signing in comes back here.
        sendPage(res, 200, pages::signIn(text(req.target)));
        return;
    }
    sendPage(res, 200,
             pages::connect(port, QJsonObject{
                                      {QStringLiteral("token"), session->token},
                                      {QStringLiteral("cookieName"), session->cookieName},
                                      {QStringLiteral("state"), state},
                                      {QStringLiteral("secure"), overHttps(req)},
                                  }));
}

void Routes::downloadPage(const Request&, Response& res) {
    sendPage(res, 200, pages::download(m_releases.newest()));
}

void Routes::manifest(const Request&, Response& res) {
    if (const auto newest = m_releases.newest())
        sendJson(res, 200, *newest);
    else
        sendError(res, 404, "not_found", QStringLiteral("No release has been published."));
}

void Routes::archive(const Request& req, Response& res) {
    const auto bytes = m_releases.archive(text(req.matches[1]));
    if (!bytes) {
        sendError(res, 404, "not_found", QStringLiteral("No such release archive."));
        return;
    }
    res.set_content(bytes->toStdString(), "application/zip");
}

void Routes::save(const Request& req, Response& res) {
    if (m_portal) {
        res.status = 403;
        res.set_content("<html><body>Sign in to the network first.</body></html>",
                        "text/html; charset=utf-8");
        return;
    }
    const auto session = apiSession(req, res);
    if (!session)
        return;
    QJsonParseError parsed;
    const QJsonDocument body =
        QJsonDocument::fromJson(QByteArray::fromStdString(req.body), &parsed);
    if (parsed.error != QJsonParseError::NoError) {
        sendError(res, 400, "bad_json", QStringLiteral("The request body is not JSON."));
        return;
    }
    const QJsonValue url = body.object().value(QLatin1String("url"));
    if (!body.isObject() || url.isUndefined() || url.isNull()) {
        sendError(res, 400, "missing_url", QStringLiteral("Send the link to save as \"url\"."));
        return;
    }
    if (!url.isString() || !isSaveableLink(url.toString())) {
        sendError(res, 400, "bad_url", QStringLiteral("That isn't a link Pinlark can save."));
        return;
    }
    const Store::Saved saved = m_store.save(session->account, url.toString());
    for (int waited = 0; m_holdSaves && waited < 6000; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (saved.existing)
        sendJson(res, 200,
                 QJsonObject{{QStringLiteral("id"), saved.id}, {QStringLiteral("existing"), true}});
    else
        sendJson(res, 201, QJsonObject{{QStringLiteral("id"), saved.id}});
}

void Routes::recent(const Request& req, Response& res) {
    if (const auto session = apiSession(req, res))
        sendJson(
            res, 200,
            QJsonObject{{QStringLiteral("saves"), m_store.recent(session->account, limitOf(req))}});
}

void Routes::one(const Request& req, Response& res) {
    const auto session = apiSession(req, res);
    if (!session)
        return;
    if (const auto row = m_store.read(session->account, text(req.matches[1])))
        sendJson(res, 200, *row);
    else
        sendError(res, 404, "not_found", QStringLiteral("That save doesn't exist."));
}

void Routes::unknownApi(const Request& req, Response& res) {
    if (apiSession(req, res))
        notFound(req, res);
}

void Routes::notFound(const Request&, Response& res) {
    sendError(res, 404, "not_found", QStringLiteral("Nothing here."));
}

} // namespace pinlark::devservice
