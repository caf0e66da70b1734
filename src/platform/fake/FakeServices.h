#pragma once

#include "platform/ActivationPolicy.h"
#include "platform/Alerts.h"
#include "platform/Bundle.h"
#include "platform/CodeSignature.h"
#include "platform/CookieStore.h"
#include "platform/Error.h"
#include "platform/HotKeyService.h"
#include "platform/LoginItemService.h"
#include "platform/NotificationCenter.h"
#include "platform/Pasteboard.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"

#include <QHash>
#include <QList>
#include <QUrl>

#include <functional>
#include <optional>

namespace pinlark {

class FakeUserDefaults : public UserDefaults {
public:
    std::optional<Value> value(const QString& key) const override {
        const auto it = values.constFind(key);
        return it == values.constEnd() ? std::nullopt : std::optional<Value>(*it);
    }
    void setValue(const QString& key, std::optional<Value> v) override {
        if (v)
            values.insert(key, *v);
        else
            values.remove(key);
    }
    QHash<QString, Value> values;
};

// An in-memory cookie store. Handlers run at once; with duplicateCompletions each handler is
// called twice, as a misbehaving platform might. Its own calls and replace() announce their
// changes; an assignment to `cookies` is a change nobody announces.
class FakeCookieStore : public CookieStore {
public:
    void getAllCookies(std::function<void(QList<QNetworkCookie>)> done) override;
    void setCookie(const QNetworkCookie& cookie, std::function<void()> done) override;
    void deleteCookie(const QNetworkCookie& cookie, std::function<void()> done) override;
    // `cookies` becomes `list`, each cookie removed and added announced, as a page's sign-in
    // in the web view would.
    void replace(const QList<QNetworkCookie>& list);

    QList<QNetworkCookie> cookies;
    bool duplicateCompletions = false;
    // Every deleteCookie call, in order.
    QList<QNetworkCookie> deleted;
};

class FakeWorkspace : public Workspace {
public:
    QList<QUrl> opened;
    // Whether the desktop starts what it is handed.
    bool starts = true;

protected:
    QCoro::Task<bool> openExternally(QUrl url) override {
        opened.append(url);
        co_return starts;
    }
};

class FakePasteboard : public Pasteboard {
public:
    std::optional<QString> string() const override { return text; }
    void setString(const QString& t) override { text = t; }
    std::optional<QString> text;
};

// Records the alerts shown and answers each with the next of `answers` (0 when none is left).
class FakeAlerts : public Alerts {
public:
    int run(const Alert& alert) override {
        shown.append(alert);
        return answers.isEmpty() ? 0 : answers.takeFirst();
    }
    QList<Alert> shown;
    QList<int> answers;
};

class FakeBundle : public Bundle {
public:
    QString path() const override { return bundlePath; }
    QString executablePath() const override { return executable; }
    std::optional<QString> identifier() const override { return bundleIdentifier; }
    QVariantMap info() const override { return infoDictionary; }

    QString bundlePath = QStringLiteral("/Applications/Pinlark.app");
    QString executable = QStringLiteral("/Applications/Pinlark.app/Contents/MacOS/Pinlark");
    std::optional<QString> bundleIdentifier = QStringLiteral("app.pinlark.Pinlark");
    QVariantMap infoDictionary;
};

class FakeActivationPolicy : public ActivationPolicy {
public:
    void setPolicy(Policy p) override {
        current = p;
        changes.append(p);
    }
    Policy policy() const override { return current; }
    void activate() override {
        ++activations;
        active = true;
    }
    bool isActive() const override { return active; }

    Policy current = Policy::Accessory;
    QList<Policy> changes;
    int activations = 0;
    bool active = false;
};

// Registration succeeds unless `refuse` is set; press() plays a key press.
class FakeHotKeyService : public HotKeyService {
public:
    bool registerHotKey(std::function<void()> pressed) override {
        ++registrations;
        if (refuse)
            return false;
        handler = std::move(pressed);
        return true;
    }
    void press() {
        if (handler)
            handler();
    }
    QString name() const override { return QStringLiteral("a fake"); }
    QString trigger() const override { return handler ? QStringLiteral("Alt+Super+L") : added; }
    QString offer() const override { return trigger().isEmpty() ? offered : QString(); }
    QString saveOffer() const override { return offer().isEmpty() ? QString() : saveOffered; }
    void acceptOffer() override {
        if (!failure.isEmpty())
            throw PlatformError(failure);
        added = offered;
    }
    std::function<void()> handler;
    int registrations = 0;
    bool refuse = false;
    // The keys offered (the library's, then the copied link's), those of the shortcut once the
    // offer is accepted, and why it fails.
    QString offered, saveOffered, added, failure;
};

// A login-item service whose status and failures the test sets. A successful register moves
// the status to `afterRegister` (a platform that waits for the user's approval stays there).
class FakeLoginItemService : public LoginItemService {
public:
    Status status() const override {
        ++statusQueries;
        return state;
    }
    void registerApp() override {
        ++registerCalls;
        if (registerError)
            throw PlatformError(*registerError);
        state = afterRegister;
    }
    void unregisterApp() override {
        ++unregisterCalls;
        if (unregisterError)
            throw PlatformError(*unregisterError);
        state = Status::NotRegistered;
    }

    Status state = Status::NotRegistered;
    Status afterRegister = Status::Enabled;
    std::optional<QString> registerError;
    std::optional<QString> unregisterError;
    mutable int statusQueries = 0;
    int registerCalls = 0;
    int unregisterCalls = 0;
};

// A signature whose presence and validity the test sets; records the bundles checked.
class FakeCodeSignature : public CodeSignature {
public:
    bool createStaticCode(const QString& bundlePath) override {
        checked.append(bundlePath);
        return signedCode;
    }
    bool checkValidity(const QString&, unsigned checks) override {
        lastChecks = checks;
        return valid;
    }
    bool signedCode = true;
    bool valid = true;
    unsigned lastChecks = 0;
    QStringList checked;
};

// Grants or refuses authorization (or fails asking, with `authorizationError`) and records the
// notifications added.
class FakeNotificationCenter : public NotificationCenter {
public:
    QCoro::Task<bool> requestAuthorization(unsigned options) override {
        requestedOptions = options;
        if (authorizationError)
            throw PlatformError(*authorizationError);
        co_return granted;
    }
    void add(const NotificationRequest& request) override { added.append(request); }
    void setResponseHandler(std::function<void(const QVariantMap&)> respond) override {
        handler = std::move(respond);
    }
    bool granted = true;
    std::optional<QString> authorizationError;
    unsigned requestedOptions = 0;
    QList<NotificationRequest> added;
    std::function<void(const QVariantMap&)> handler;
};

} // namespace pinlark
