#include "app/AppDelegate.h"
#include "library/Dashboard.h"
#include "menubar/StatusItem.h"
#include "platform/fake/FakePlatform.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QMenuBar>

using namespace pinlark;

namespace {

// What the start-up asked of the platform, in order.
QStringList steps;

class Defaults : public FakeUserDefaults {
public:
    std::optional<Value> value(const QString& key) const override {
        if (key == "loginItemDesired"_L1)
            steps << u"login item"_s;
        else if (key == "otaFailed"_L1)
            steps << u"updater"_s;
        return FakeUserDefaults::value(key);
    }
};

class HotKeys : public FakeHotKeyService {
public:
    bool registerHotKey(std::function<void()> pressed) override {
        // The menu and the status item come first.
        const auto widgets = QApplication::topLevelWidgets();
        const bool menu = std::any_of(widgets.begin(), widgets.end(), [](QWidget* w) {
            return qobject_cast<QMenuBar*>(w) || w->findChild<QMenuBar*>();
        });
        steps << u"hotkey (menu %1, status item %2)"_s.arg(menu).arg(delegate->statusItem !=
                                                                     nullptr);
        return FakeHotKeyService::registerHotKey(std::move(pressed));
    }
    AppDelegate* delegate = nullptr;
};

class Notifications : public FakeNotificationCenter {
public:
    void setResponseHandler(std::function<void(const QVariantMap&)> respond) override {
        steps << u"notifications"_s;
        FakeNotificationCenter::setResponseHandler(std::move(respond));
    }
};

class Activation : public FakeActivationPolicy {
public:
    void setPolicy(Policy p) override {
        if (p == Policy::Regular)
            steps << u"library shown"_s;
        FakeActivationPolicy::setPolicy(p);
    }
};

} // namespace

// The delegate with the real library window and status item, on fakes of the platform; the
// library's origin refuses connections.
class TestAppDelegate : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        Platform::Services s;
        s.defaults = std::make_unique<Defaults>();
        s.defaults->set(u"origin"_s, u"http://127.0.0.1:9"_s);
        s.defaults->set(u"loginItemDesired"_s, true);
        auto hotKeys = std::make_unique<HotKeys>();
        m_hotKeys = hotKeys.get();
        s.hotKeys = std::move(hotKeys);
        s.notifications = std::make_unique<Notifications>();
        auto activation = std::make_unique<Activation>();
        m_activation = activation.get();
        s.activationPolicy = std::move(activation);
        m_platform = FakePlatform::install(std::move(s));
    }
    void cleanup() { TestState::reset(); }

    void startsInOrder_data() {
        QTest::addColumn<bool>("identified");
        QTest::addColumn<QStringList>("expected");
        const QString hotkey = u"hotkey (menu 1, status item 1)"_s;
        QTest::newRow("bundle") << true
                                << QStringList{hotkey, u"notifications"_s, u"login item"_s,
                                               u"updater"_s, u"library shown"_s};
        QTest::newRow("bare executable")
            << false << QStringList{hotkey, u"login item"_s, u"updater"_s, u"library shown"_s};
    }
    void startsInOrder() {
        QFETCH(bool, identified);
        QFETCH(QStringList, expected);
        m_platform.bundle->bundleIdentifier =
            identified ? std::optional(u"app.pinlark.Pinlark"_s) : std::nullopt;
        AppDelegate delegate;
        m_hotKeys->delegate = &delegate;
        steps.clear();
        delegate.applicationDidFinishLaunching();
        QCOMPARE(steps, expected);
        QVERIFY(Dashboard::shared().window()->isVisible());
        QVERIFY(!QGuiApplication::quitOnLastWindowClosed());
    }

    // The hotkey hides the window in front and shows it again; a reopen brings it forward
    // whether it is visible or not.
    void hotkeyAndReopen() {
        AppDelegate delegate;
        m_hotKeys->delegate = &delegate;
        delegate.applicationDidFinishLaunching();
        QWidget* window = Dashboard::shared().window();
        m_hotKeys->press();
        QTRY_VERIFY(!window->isVisible());
        m_hotKeys->press();
        QTRY_VERIFY(window->isVisible());

        const int activations = m_activation->activations;
        QVERIFY(delegate.applicationShouldHandleReopen());
        QCOMPARE(m_activation->activations, activations + 1);
        Dashboard::shared().hide();
        QVERIFY(delegate.applicationShouldHandleReopen());
        QVERIFY(window->isVisible());
    }

private:
    FakePlatform m_platform;
    HotKeys* m_hotKeys = nullptr;
    Activation* m_activation = nullptr;
};

PINLARK_WEBENGINE_TEST_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
