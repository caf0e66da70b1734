#include "platform/linux/AutostartLoginItemService.h"

#include <QtTest>

using namespace pinlark;
using Service = AutostartLoginItemService;

class TestLoginItemExec : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void quoting_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("value");

        QTest::newRow("plain") << "/opt/Pinlark.app/Contents/MacOS/Pinlark"
                               << "\"/opt/Pinlark.app/Contents/MacOS/Pinlark\"";
        QTest::newRow("space") << "/home/a b/Pinlark"
                               << "\"/home/a b/Pinlark\"";
        QTest::newRow("quotes") << "/x/My \"Pin\" lark's/P"
                                << "\"/x/My \\\\\"Pin\\\\\" lark's/P\"";
        QTest::newRow("dollar and backtick") << "/x/$HOME/`id`"
                                             << "\"/x/\\\\$HOME/\\\\`id\\\\`\"";
        QTest::newRow("backslash") << "/x/a\\b"
                                   << "\"/x/a\\\\\\\\b\"";
        QTest::newRow("percent") << "/x/100%u"
                                 << "\"/x/100%%u\"";
        QTest::newRow("newline and tab") << "/x/a\nb\tc"
                                         << "\"/x/a\\nb\\tc\"";
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
        QTest::newRow("bare path") << "/usr/bin/pinlark" << Args(QStringList{"/usr/bin/pinlark"});
        QTest::newRow("arguments and field codes")
            << "/usr/bin/pinlark --hidden %U  -x\t%f"
            << Args(QStringList{"/usr/bin/pinlark", "--hidden", "-x"});
        QTest::newRow("escaped space in the value")
            << "\"/a\\sb/p\"" << Args(QStringList{"/a b/p"});
        QTest::newRow("quoted part inside an argument")
            << "/a/\"b c\"/p" << Args(QStringList{"/a/b c/p"});
        QTest::newRow("empty quoted argument") << "/p \"\"" << Args(QStringList{"/p", ""});
        QTest::newRow("literal percent") << "/p 100%%" << Args(QStringList{"/p", "100%"});
        QTest::newRow("unterminated quote") << "\"/a b/p" << Args();
        QTest::newRow("empty") << "" << Args(QStringList());
    }
    void parsing() {
        QFETCH(QString, value);
        QFETCH(std::optional<QStringList>, arguments);
        QCOMPARE(Service::execArguments(value), arguments);
    }
};

QTEST_GUILESS_MAIN(TestLoginItemExec)
#include "tst_loginitem_exec.moc"
