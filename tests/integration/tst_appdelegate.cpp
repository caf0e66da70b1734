#include "app/AppDelegate.h"
#include "library/Dashboard.h"
#include "platform/fake/FakePlatform.h"
#include "support/TestSupport.h"

#include <QGuiApplication>

using namespace pinlark;

namespace {

// What the start-up asked of the platform, in order.
QStringList steps;
AppDelegate* delegate = nullptr;

struct Defaults : FakeUserDefaults {
    std::optional<Value> value(const QString& key) const override {
        if (key == "loginItemDesired"_L1 || key == "otaFailed"_L1)
            steps << (key == "otaFailed"_L1 ? u"updater"_s : u"login item"_s);
        return FakeUserDefaults::value(key);
    }
};
struct HotKeys : FakeHotKeyService {
    bool registerHotKey(std::function<void()> pressed) override {
        steps << (delegate->statusItem ? u"hotkey after the status item"_s : u"hotkey"_s);
        return FakeHotKeyService::registerHotKey(std::move(pressed));
    }
};
struct Notifications : FakeNotificationCenter {
    void setResponseHandler(std::function<void(const QVariantMap&)> respond) override {
        steps << u"notifications"_s;
        FakeNotificationCenter::setResponseHandler(std::move(respond));
    }
};
struct Activation : FakeActivationPolicy {
    void setPolicy(Policy p) override {
        if (p == Policy::Regular)
            steps << u"library shown"_s;
        FakeActivationPolicy::setPolicy(p);
    }
};

} // namespace

// The start-up with the real library window and status item on fakes of the platform; the
// library's origin refuses connections.
class TestAppDelegate : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        Platform::Services s;
        s.defaults = std::make_unique<Defaults>();
        s.defaults->set(u"origin"_s, u"http://127.0.0.1:9"_s);
        s.defaults->set(u"loginItemDesired"_s, true);
        s.hotKeys = std::make_unique<HotKeys>();
        s.notifications = std::make_unique<Notifications>();
        s.activationPolicy = std::make_unique<Activation>();
        m_platform = FakePlatform::install(std::move(s));
    }
    void cleanup() { TestState::reset(); }

    void startsInOrder_data() {
        QTest::addColumn<bool>("identified");
        QTest::addColumn<QStringList>("expected");
        const QStringList last{u"login item"_s, u"updater"_s, u"library shown"_s};
        const QString hotkey = u"hotkey after the status item"_s;
        QTest::newRow("bundle") << true << QStringList{hotkey, u"notifications"_s} + last;
        QTest::newRow("bare executable") << false << QStringList{hotkey} + last;
    }
    void startsInOrder() {
        QFETCH(bool, identified);
        QFETCH(QStringList, expected);
        if (!identified)
            m_platform.bundle->bundleIdentifier.reset();
        AppDelegate app;
        delegate = &app;
        steps.clear();
        app.applicationDidFinishLaunching();
        QCOMPARE(steps, expected);
        QVERIFY(Dashboard::shared().window()->isVisible());
        QVERIFY(!QGuiApplication::quitOnLastWindowClosed());
    }

private:
    FakePlatform m_platform;
};

PINLARK_WEBENGINE_TEST_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
