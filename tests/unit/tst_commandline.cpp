#include "app/CommandLine.h"

#include <QTest>

using namespace pinlark;

using Kind = Command::Kind;

class TestCommandLine : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // `kind` -1: no command, the launch prints `message` (a part of it) and exits with `status`.
    void parse_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("link");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        const auto row = [](const char* name, QStringList arguments, int kind, const char* link,
                            int status = 0, const char* message = "") {
            QTest::newRow(name) << arguments << kind << QString::fromUtf8(link) << status
                                << QString::fromUtf8(message);
        };
        const int reopen = int(Kind::Reopen), save = int(Kind::Save);
        row("nothing: reopen", {}, reopen, "");
        row("--save URL", {"--save", "https://example.org/a?b=c#d"}, save,
            "https://example.org/a?b=c#d");
        row("--save=URL", {"--save=http://example.org/"}, save, "http://example.org/");
        row("the URL alone", {"https://example.org/x"}, save, "https://example.org/x");
        row("upper-case scheme", {"HTTPS://Example.org/"}, save, "https://example.org/");
        row("padded by a launcher", {" https://example.org/ \n"}, save, "https://example.org/");
        row("--quick-save", {"--quick-save"}, int(Kind::QuickSave), "");
        row("--toggle-library", {"--toggle-library"}, int(Kind::ToggleLibrary), "");
        row("--help", {"--help"}, -1, "", 0, "--save URL");
        row("-h", {"-h"}, -1, "", 0, "quick-save panel");
        row("file link", {"file:///etc/passwd"}, -1, "", 2, "only http and https links");
        row("javascript link", {"--save", "javascript:alert(1)"}, -1, "", 2, "only http and");
        row("no host", {"https://"}, -1, "", 2, "not a link Pinlark can save");
        row("not a link", {"hello"}, -1, "", 2, "\"hello\" is not a link");
        row("control characters echoed harmlessly", {"\x1b]0;x\x07"}, -1, "", 2, "\"?]0;x?\"");
        row("too long", {"https://example.org/" + QString(9000, 'a')}, -1, "", 2, "not a link");
        row("--save without a link", {"--save"}, -1, "", 2, "--save needs a link");
        row("two links", {"https://a.example/", "https://b.example/"}, -1, "", 2,
            "one link at a time");
        row("--save with two links", {"--save", "https://a.example/", "https://b.example/"}, -1, "",
            2, "one link at a time");
        row("unknown option", {"--frobnicate"}, -1, "", 2, "unknown option \"--frobnicate\"");
        row("option with extra", {"--quick-save", "x"}, -1, "", 2, "takes nothing more");
    }
    void parse() {
        QFETCH(QStringList, arguments);
        QFETCH(int, kind);
        QFETCH(QString, link);
        QFETCH(int, status);
        QFETCH(QString, message);
        const CommandLine::Parsed parsed = CommandLine::parse(arguments);
        QCOMPARE(parsed.exitStatus, status);
        QVERIFY2(parsed.message.contains(message), qPrintable(parsed.message));
        if (kind < 0) {
            QVERIFY(!parsed.command);
            QVERIFY(!parsed.message.isEmpty());
            return;
        }
        QVERIFY(parsed.command);
        QCOMPARE(int(parsed.command->kind), kind);
        QCOMPARE(parsed.command->link, QUrl(link));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
