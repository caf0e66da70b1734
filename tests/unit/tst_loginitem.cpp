#include "loginitem/LoginItem.h"
#include "platform/linux/AutostartLoginItemService.h"

#include "support/LogCapture.h"
#include "support/TestSupport.h"

#include <QtTest>

using namespace pinlark;
using Status = LoginItemService::Status;

Q_DECLARE_METATYPE(Status)

namespace {
const QString key = QLatin1String(LoginItem::desiredKey);
const QString reRegistering = u"[Pinlark] re-registering the login item after an update"_s;

// Absent (-1), false (0) or true (1).
void storeWish(FakePlatform& fake, int wish) {
    if (wish >= 0)
        fake.defaults->set(key, wish == 1);
}
} // namespace

class TestLoginItem : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        TestState::reset();
        m_fake = FakePlatform::install();
    }
    void cleanup() { TestState::reset(); }

    void reconcile_data() {
        QTest::addColumn<int>("wish");
        QTest::addColumn<Status>("status");
        QTest::addColumn<QString>("registerError");
        QTest::addColumn<int>("statusQueries");
        QTest::addColumn<int>("registerCalls");
        QTest::addColumn<QStringList>("log");

        QTest::newRow("no wish, registered leaves it")
            << -1 << Status::Enabled << QString() << 0 << 0 << QStringList();
        QTest::newRow("wish true, enabled: only the status query")
            << 1 << Status::Enabled << QString() << 1 << 0 << QStringList();
        QTest::newRow("wish true, lost after an update")
            << 1 << Status::NotRegistered << QString() << 1 << 1 << QStringList{reRegistering};
        QTest::newRow("register refused: the description logged as is")
            << 1 << Status::NotRegistered << u"100% %s %1 %n"_s << 1 << 1
            << QStringList{reRegistering,
                           u"[Pinlark] login item re-register failed: 100% %s %1 %n"_s};
    }
    void reconcile() {
        QFETCH(int, wish);
        QFETCH(Status, status);
        QFETCH(QString, registerError);
        QFETCH(int, statusQueries);
        QFETCH(int, registerCalls);
        QFETCH(QStringList, log);

        storeWish(m_fake, wish);
        m_fake.loginItems->state = status;
        if (!registerError.isNull())
            m_fake.loginItems->registerError = registerError;
        LogCapture capture;

        LoginItem::reconcile();

        QCOMPARE(m_fake.loginItems->statusQueries, statusQueries);
        QCOMPARE(m_fake.loginItems->registerCalls, registerCalls);
        QCOMPARE(m_fake.loginItems->unregisterCalls, 0);
        QCOMPARE(capture.lines, log);
        // The wish is never touched by reconciling.
        QCOMPARE(m_fake.defaults->boolean(key),
                 wish < 0 ? std::nullopt : std::optional<bool>(wish == 1));
    }

    void reconcileRetriesWhileApprovalIsPending() {
        m_fake.defaults->set(key, true);
        m_fake.loginItems->state = Status::RequiresApproval;
        m_fake.loginItems->afterRegister = Status::RequiresApproval;
        LogCapture capture;

        for (int launch = 0; launch < 3; ++launch)
            LoginItem::reconcile();

        QCOMPARE(m_fake.loginItems->registerCalls, 3);
        QCOMPARE(capture.lines, QStringList(3, reRegistering));
    }

    // The Exec value of an autostart entry: ours read back as written, and entries written by
    // hand or by other tools.
    void execValues() {
        for (const QString program : {"/x/$HOME/`id`", "/x/a\\b"})
            QCOMPARE(AutostartLoginItemService::execArguments(
                         AutostartLoginItemService::execValue(program)),
                     std::optional<QStringList>(QStringList{program}));
        QCOMPARE(AutostartLoginItemService::execValue(u"/x/$HOME/`id`"_s),
                 u"\"/x/\\\\$HOME/\\\\`id\\\\`\""_s);
        QCOMPARE(AutostartLoginItemService::execValue(u"/x/a\\b"_s), u"\"/x/a\\\\\\\\b\""_s);
        using Args = std::optional<QStringList>;
        QCOMPARE(
            AutostartLoginItemService::execArguments(u"/usr/bin/pinlark --hidden %U  -x\t%f"_s),
            Args(QStringList{"/usr/bin/pinlark", "--hidden", "-x"}));
        QCOMPARE(AutostartLoginItemService::execArguments(u"\"/a b/p"_s), Args());
        QCOMPARE(AutostartLoginItemService::execArguments(u""_s), Args(QStringList()));
    }

private:
    FakePlatform m_fake;
};

QTEST_GUILESS_MAIN(TestLoginItem)
#include "tst_loginitem.moc"
