#include "loginitem/LoginItem.h"
#include "platform/linux/AutostartLoginItemService.h"

#include "support/LogCapture.h"
#include "support/TestSupport.h"

using namespace pinlark;
using Status = LoginItemService::Status;

namespace {
const QString key = QLatin1String(LoginItem::desiredKey);
} // namespace

class TestLoginItem : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        TestState::reset();
        m_fake = FakePlatform::install();
    }
    void cleanup() { TestState::reset(); }

    // Two launches: the status queries and registrations they make, and what they log ("R":
    // re-registering, "F": its failure). The wish is never touched by reconciling.
    void reconcile_data() {
        QTest::addColumn<int>("wish"); // absent (-1), false (0) or true (1)
        QTest::addColumn<Status>("status");
        QTest::addColumn<QString>("registerError");
        QTest::addColumn<QString>("done");
        const auto row = [](const char* name, int wish, Status status, const char* done,
                            const QString& error = {}) {
            QTest::newRow(name) << wish << status << error << QString::fromUtf8(done);
        };
        row("no wish, registered: left alone", -1, Status::Enabled, "0 0");
        row("wish off: left alone", 0, Status::NotRegistered, "0 0");
        row("enabled: only the status query", 1, Status::Enabled, "2 0");
        row("lost after an update", 1, Status::NotRegistered, "2 1 | R");
        row("refused: the description logged as it is, and tried again", 1, Status::NotRegistered,
            "2 2 | R | F 100% %s %1 %n | R | F 100% %s %1 %n", u"100% %s %1 %n"_s);
        row("approval pending: asked again", 1, Status::RequiresApproval, "2 2 | R | R");
    }
    void reconcile() {
        QFETCH(int, wish);
        QFETCH(Status, status);
        QFETCH(QString, registerError);
        QFETCH(QString, done);
        if (wish >= 0)
            m_fake.defaults->set(key, wish == 1);
        m_fake.loginItems->state = status;
        if (status == Status::RequiresApproval)
            m_fake.loginItems->afterRegister = status;
        if (!registerError.isNull())
            m_fake.loginItems->registerError = registerError;
        LogCapture capture;
        LoginItem::reconcile();
        LoginItem::reconcile();
        QStringList seen{
            u"%1 %2"_s.arg(m_fake.loginItems->statusQueries).arg(m_fake.loginItems->registerCalls)};
        for (QString line : capture.lines)
            seen << line.replace(u"[Pinlark] re-registering the login item after an update"_s,
                                 u"R"_s)
                        .replace(u"[Pinlark] login item re-register failed:"_s, u"F"_s);
        QCOMPARE(seen.join(u" | "_s), done);
        QCOMPARE(m_fake.loginItems->unregisterCalls, 0);
        QCOMPARE(m_fake.defaults->boolean(key),
                 wish < 0 ? std::nullopt : std::optional<bool>(wish == 1));
    }

    // The Exec value of an autostart entry: ours reads back as the program it names (the
    // autostart test has the exact text), entries by hand or by other tools as their program and
    // arguments, without field codes.
    void execValues() {
        using Args = std::optional<QStringList>;
        for (const QString program : {"/opt/p/Pinlark", "/x/100%/p", "/a b/p", "/x/$HOME/`id`", "/x/a\\b"})
            QCOMPARE(AutostartLoginItemService::execArguments(
                         AutostartLoginItemService::execValue(program)),
                     Args(QStringList{program}));
        QCOMPARE(
            AutostartLoginItemService::execArguments(u"/usr/bin/pinlark --hidden %U  -x\t%f"_s),
            Args(QStringList{"/usr/bin/pinlark", "--hidden", "-x"}));
        QCOMPARE(AutostartLoginItemService::execArguments(u"\"/a b/p"_s), Args());
    }

private:
    FakePlatform m_fake;
};

QTEST_GUILESS_MAIN(TestLoginItem)
#include "tst_loginitem.moc"
