#include "platform/linux/AutostartLoginItemService.h"

#include <QtTest>

using namespace pinlark;
using namespace Qt::StringLiterals;
using Service = AutostartLoginItemService;

class TestLoginItemExec : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void quoting_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("value");

        QTest::newRow("quotes") << u"/x/My \"Pin\" lark's/P"_s
                                << u"\"/x/My \\\\\"Pin\\\\\" lark's/P\""_s;
        QTest::newRow("dollar and backtick")
            << u"/x/$HOME/`id`"_s << u"\"/x/\\\\$HOME/\\\\`id\\\\`\""_s;
        QTest::newRow("backslash") << u"/x/a\\b"_s << u"\"/x/a\\\\\\\\b\""_s;
        QTest::newRow("percent") << u"/x/100%u"_s << u"\"/x/100%%u\""_s;
        QTest::newRow("newline and tab") << u"/x/a\nb\tc"_s << u"\"/x/a\\nb\\tc\""_s;
    }
    void quoting() {
        QFETCH(QString, program);
        QFETCH(QString, value);
        QCOMPARE(Service::execValue(program), value);
        QCOMPARE(Service::execArguments(value), std::optional<QStringList>(QStringList{program}));
    }

    // Entries written by hand or by other tools.
    void parsing_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<std::optional<QStringList>>("arguments");

        using Args = std::optional<QStringList>;
        QTest::newRow("arguments and field codes")
            << u"/usr/bin/pinlark --hidden %U  -x\t%f"_s
            << Args(QStringList{"/usr/bin/pinlark", "--hidden", "-x"});
        QTest::newRow("escaped space in the value")
            << "\"/a\\sb/p\"" << Args(QStringList{"/a b/p"});
        QTest::newRow("quoted part inside an argument")
            << "/a/\"b c\"/p" << Args(QStringList{"/a/b c/p"});
        QTest::newRow("empty quoted argument") << u"/p \"\""_s << Args(QStringList{"/p", ""});
        QTest::newRow("unterminated quote") << u"\"/a b/p"_s << Args();
        QTest::newRow("empty") << u""_s << Args(QStringList());
    }
    void parsing() {
        QFETCH(QString, value);
        QFETCH(std::optional<QStringList>, arguments);
        QCOMPARE(Service::execArguments(value), arguments);
    }
};

QTEST_GUILESS_MAIN(TestLoginItemExec)
#include "tst_loginitem_exec.moc"
