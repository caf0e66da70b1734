#include "platform/Error.h"
#include "platform/linux/FreedesktopNotificationCenter.h"
#include "platform/linux/PortalHotKeyService.h"
#include "support/LogCapture.h"
#include "support/TestSupport.h"

#include <QtDBus>

using namespace pinlark;

namespace {

const QString portalPath = u"/org/freedesktop/portal/desktop"_s;

// A desktop portal's GlobalShortcuts on a connection of its own. It answers the method
// `refused` with the Response `code`, or with an error when the code is 0, and the others with
// success; each Response goes out before the method's reply, as a quick portal's may.
class FakePortal : public QDBusVirtualObject {
public:
    QString refused, session = portalPath + "/session/1"_L1;
    uint code = 0;
    QStringList calls; // each with the shortcuts it binds and their preferred triggers

    bool handleMessage(const QDBusMessage& m, const QDBusConnection& bus) override {
        const QVariantMap options = qdbus_cast<QVariantMap>(m.arguments().constLast());
        QVariantMap results{{u"session_handle"_s, session}}; // a string, as portals send it
        QString call = m.member();
        if (call == "BindShortcuts"_L1) { // its first shortcut, bound with the keys it asked for
            const auto asked = qdbus_cast<QList<PortalShortcut>>(m.arguments().at(1)).value(0);
            call +=
                u' ' + asked.id + u' ' + asked.properties.value(u"preferred_trigger"_s).toString();
            QDBusArgument bound;
            bound << QList<PortalShortcut>{
                {asked.id, {{u"trigger_description"_s, u"Alt+Super+L"_s}}}};
            results.insert(u"shortcuts"_s, QVariant::fromValue(bound));
        }
        calls.append(call);
        if (m.member() == refused && code == 0)
            return bus.send(m.createErrorReply(QDBusError::AccessDenied, u"not for you"_s));
        const QString request = portalPath + "/request/"_L1 +
                                m.service().mid(1).replace(u'.', u'_') + u'/' +
                                options.value(u"handle_token"_s).toString();
        bus.send(
            QDBusMessage::createSignal(request, u"org.freedesktop.portal.Request"_s, u"Response"_s)
            << (m.member() == refused ? code : 0u) << results);
        return bus.send(m.createReply(QVariant::fromValue(QDBusObjectPath(request))));
    }
    QString introspect(const QString&) const override { return {}; }
};

// A notification server: it lists `capabilities` and keeps the bodies of the notifications it is
// sent.
class FakeNotificationServer : public QDBusVirtualObject {
public:
    QStringList capabilities, bodies;

    bool handleMessage(const QDBusMessage& m, const QDBusConnection& bus) override {
        if (m.member() == "GetCapabilities"_L1)
            return bus.send(m.createReply(capabilities));
        bodies.append(m.arguments().value(4).toString());
        return bus.send(m.createReply(uint(bodies.size())));
    }
    QString introspect(const QString&) const override { return {}; }
};

} // namespace

// Linux services over a private session bus: the shortcut through a stand-in portal, and
// notifications where no server answers.
class TestPortalHotKey : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        const QByteArray address = startSessionBus(m_bus, m_runtime.path());
        QVERIFY(!address.isEmpty());
        m_portalBus = QDBusConnection::connectToBus(QString::fromLatin1(address), u"portal"_s);
        QVERIFY(m_portalBus.registerVirtualObject(portalPath, &m_portal));
        QVERIFY(m_portalBus.registerService(u"org.freedesktop.portal.Desktop"_s));
        QDBusConnection::sessionBus().connect({}, portalPath, u"test.Ping"_s, u"Ping"_s, this,
                                              SLOT(pinged()));
    }

    // The shortcut is asked for with its trigger; only its own activation runs the action, once,
    // on the main thread. A refusal leaves no shortcut and a log line.
    void binding_data() {
        QTest::addColumn<QString>("refused");
        QTest::addColumn<uint>("code");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QString>("logged"); // after "the desktop portal "
        const QStringList both{u"CreateSession"_s, u"BindShortcuts library ALT+LOGO+l"_s};
        const QString refusal = u"did not bind the global shortcut: "_s;
        QTest::newRow("granted") << QString() << 0u << both
                                 << u"bound the global shortcut to Alt+Super+L"_s;
        QTest::newRow("cancelled by the user")
            << u"BindShortcuts"_s << 1u << both << refusal + u"cancelled"_s;
        QTest::newRow("session refused")
            << u"CreateSession"_s << 2u << both.mid(0, 1) << refusal + u"refused"_s;
        QTest::newRow("bus error")
            << u"CreateSession"_s << 0u << both.mid(0, 1) << refusal + u"not for you"_s;
    }
    void binding() {
        QFETCH(QString, refused);
        QFETCH(uint, code);
        QFETCH(QStringList, calls);
        QFETCH(QString, logged);
        m_portal.refused = refused;
        m_portal.code = code;
        m_portal.calls.clear();
        LogCapture log;
        PortalHotKeyService service;
        QList<QThread*> ran;
        QVERIFY(service.registerHotKey([&] { ran.append(QThread::currentThread()); }));
        QTRY_COMPARE(m_portal.calls, calls);
        QTRY_COMPARE(log.lines, QStringList{u"[Pinlark] the desktop portal "_s + logged});
        QCOMPARE(service.trigger(), refused.isEmpty() ? u"Alt+Super+L"_s : QString());

        const std::pair<QString, QString> activations[] = {
            {portalPath + "/session/other"_L1, u"library"_s},
            {m_portal.session, u"other"_s},
            {m_portal.session, u"library"_s}};
        for (const auto& [session, id] : activations)
            m_portalBus.send(QDBusMessage::createSignal(portalPath,
                                                        u"org.freedesktop.portal.GlobalShortcuts"_s,
                                                        u"Activated"_s)
                             << QVariant::fromValue(QDBusObjectPath(session)) << id << qulonglong(0)
                             << QVariantMap());
        // Sent after them, so the activations have been handled once it arrives.
        const int pings = m_pings;
        m_portalBus.send(QDBusMessage::createSignal(portalPath, u"test.Ping"_s, u"Ping"_s));
        QTRY_COMPARE(m_pings, pings + 1);
        QCOMPARE(ran, QList<QThread*>(refused.isEmpty() ? 1 : 0, thread()));
    }

    // Without a notification server, asking to notify fails, so the caller falls back to an
    // alert instead of sending notifications nobody shows. A body that carries a link and the
    // service's text reads as sent, on a server that takes markup in bodies too.
    void notificationBodies() {
        QVERIFY_THROWS_EXCEPTION(PlatformError,
                                 runTask(FreedesktopNotificationCenter().requestAuthorization(0)));
        const QString path = u"/org/freedesktop/Notifications"_s, body = u"<b>A & B</b>?a=1&b"_s;
        QVERIFY(m_portalBus.registerVirtualObject(path, &m_server));
        QVERIFY(m_portalBus.registerService(u"org.freedesktop.Notifications"_s));
        const auto unregister = qScopeGuard([&] {
            m_portalBus.unregisterService(u"org.freedesktop.Notifications"_s);
            m_portalBus.unregisterObject(path);
        });
        for (const QString capability : {"body", "body-markup"}) {
            m_server.capabilities = {capability};
            const qsizetype sent = m_server.bodies.size() + 1;
            FreedesktopNotificationCenter center;
            center.add({u"saved"_s, u"Saved"_s, body, {}});
            QTRY_COMPARE(m_server.bodies.size(), sent);
        }
        QCOMPARE(m_server.bodies, (QStringList{body, u"&lt;b&gt;A &amp; B&lt;/b&gt;?a=1&amp;b"_s}));
    }

protected Q_SLOTS:
    void pinged() { ++m_pings; }

private:
    QTemporaryDir m_runtime; // holds the bus's socket; outlives m_bus, which stops the bus
    QProcess m_bus;
    QDBusConnection m_portalBus{QString()};
    FakePortal m_portal;
    FakeNotificationServer m_server;
    int m_pings = 0;
};

QTEST_GUILESS_MAIN(TestPortalHotKey)

#include "tst_portalhotkey.moc"
