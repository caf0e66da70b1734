#pragma once

#include "RequestLog.h"

#include <atomic>
#include <functional>
#include <optional>
#include <string>

#include <QString>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace pinlark::devservice {

class Releases;
class Store;

// The contract's requests served on one server from `store` and `releases`, which must outlive
// it: the sign-in pages and session cookie, the JSON API, the saves and download pages, the
// update manifest and archives, the browser sign-in hand-off page, and, with `devRoutes`,
// "dev/requests" and "dev/saves" (and only then are requests recorded).
class Routes {
public:
    Routes(httplib::Server& server, Store& store, const Releases& releases, bool devRoutes);

private:
    using Request = httplib::Request;
    using Response = httplib::Response;
    using Handler = void (Routes::*)(const Request&, Response&);
    using Register = httplib::Server& (
        httplib::Server::*)(const std::string&, std::function<void(const Request&, Response&)>);

    struct Session {
        QString token;
        QString account;
        QString cookieName; // empty when the token came as a bearer token
    };

    // Registers `handler`, which records its request before it answers.
    void route(Register method, const char* pattern, Handler handler);
    std::optional<Session> sessionOf(const Request& req, bool acceptBearer) const;
    // The API's session; answers 401 when there is none.
    std::optional<Session> apiSession(const Request& req, Response& res) const;

    void home(const Request& req, Response& res);
    void signInForm(const Request& req, Response& res);
    void signIn(const Request& req, Response& res);
    void savesPage(const Request& req, Response& res);
    void connectPage(const Request& req, Response& res);
    void downloadPage(const Request& req, Response& res);
    void manifest(const Request& req, Response& res);
    void archive(const Request& req, Response& res);
    void save(const Request& req, Response& res);
    void recent(const Request& req, Response& res);
    void one(const Request& req, Response& res);
    void unknownApi(const Request& req, Response& res);
    void notFound(const Request& req, Response& res);

    httplib::Server& m_server;
    Store& m_store;
    RequestLog m_requests;
    const Releases& m_releases;
    const bool m_devRoutes;
    std::atomic<bool> m_holdSaves = false;
    std::atomic<bool> m_portal = false;
};

} // namespace pinlark::devservice
