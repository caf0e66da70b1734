#include "menubar/Hotkey.h"

#include "platform/linux/X11HotKeyService.h"
#include "support/TestSupport.h"

#include <QThread>
#include <QtTest>

using namespace pinlark;

class TestHotkey : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        TestState::reset();
        m_fake = FakePlatform::install();
    }
    void cleanup() { TestState::reset(); }

    // A press, on the main thread or another, runs the action later, on the main thread.
    void actionRunsLaterOnTheMainThread() {
        QList<QThread*> ranOn;
        Hotkey::registerAction([&] { ranOn << QThread::currentThread(); });
        m_fake.hotKeys->press();
        std::unique_ptr<QThread> thread(QThread::create([this] { m_fake.hotKeys->press(); }));
        thread->start();
        QVERIFY(thread->wait());
        QVERIFY(ranOn.isEmpty());
        QCoreApplication::processEvents();
        QCOMPARE(ranOn, QList<QThread*>(2, QCoreApplication::instance()->thread()));
    }

    // Under a platform without X11 (here: offscreen), the Linux service refuses quietly.
    void withoutX11TheAppRunsOn() {
        Platform::Services s;
        s.hotKeys = std::make_unique<X11HotKeyService>();
        Platform::install(std::move(s));
        QVERIFY(!Platform::hotKeys().registerHotKey([] {}));
        bool ran = false;
        Hotkey::registerAction([&] { ran = true; });
        QCoreApplication::processEvents();
        QVERIFY(!ran);
    }

private:
    FakePlatform m_fake;
};

QTEST_MAIN(TestHotkey)
#include "tst_hotkey.moc"
