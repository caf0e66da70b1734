#include "menubar/Hotkey.h"

#include "support/TestSupport.h"

#include <QThread>

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

private:
    FakePlatform m_fake;
};

QTEST_MAIN(TestHotkey)
#include "tst_hotkey.moc"
