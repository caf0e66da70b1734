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
        m_ran.clear();
    }
    void cleanup() { TestState::reset(); }

    void actionRunsLaterOnTheMainThread_data() {
        QTest::addColumn<bool>("fromOtherThread");
        QTest::newRow("press on the main thread") << false;
        QTest::newRow("press on another thread") << true;
    }
    void actionRunsLaterOnTheMainThread() {
        QFETCH(bool, fromOtherThread);
        QThread* ranOn = nullptr;
        Hotkey::registerAction([&] {
            ranOn = QThread::currentThread();
            m_ran.append("action");
        });

        if (fromOtherThread) {
            std::unique_ptr<QThread> thread(QThread::create([this] { m_fake.hotKeys->press(); }));
            thread->start();
            QVERIFY(thread->wait());
        } else {
            m_fake.hotKeys->press();
        }
        QVERIFY(m_ran.isEmpty());

        QCoreApplication::processEvents();
        QCOMPARE(m_ran, QStringList{"action"});
        QCOMPARE(ranOn, QCoreApplication::instance()->thread());
    }

    // Under a platform without X11 (here: offscreen), the Linux service refuses quietly.
    void withoutX11TheAppRunsOn() {
        Platform::Services s;
        s.hotKeys = std::make_unique<X11HotKeyService>();
        Platform::install(std::move(s));
        QVERIFY(!Platform::hotKeys().registerHotKey([] {}));
        Hotkey::registerAction(record("action"));
        QCoreApplication::processEvents();
        QVERIFY(m_ran.isEmpty());
    }

private:
    std::function<void()> record(const char* name) {
        return [this, name] { m_ran.append(QLatin1String(name)); };
    }

    FakePlatform m_fake;
    QStringList m_ran;
};

QTEST_MAIN(TestHotkey)
#include "tst_hotkey.moc"
