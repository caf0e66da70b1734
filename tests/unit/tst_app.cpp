#include "Product.h"
#include "app/CommandLine.h"
#include "app/QuitSignals.h"
#include "platform/qt/DesktopServices.h"

#include <QApplication>
#include <QTest>
#include <QTimer>

#include <csignal>

using namespace pinlark;
using namespace Qt::StringLiterals;

// The command line a launch is given.
class TestApp : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // `kind` -1: no command; the launch prints a message containing `message` and exits with
    // `status`.
    void parse_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("linkOrMessage");
        QTest::addColumn<int>("status");
        const auto row = [](const char* name, QStringList arguments, int kind, const char* text,
                            int status = 2) {
            QTest::newRow(name) << arguments << kind << QString::fromUtf8(text) << status;
        };
        const int save = int(Command::Kind::Save);
        row("nothing: reopen", {}, int(Command::Kind::Reopen), "", 0);
        row("--save URL", {"--save", "https://example.org/a?b=c#d"}, save,
            "https://example.org/a?b=c#d", 0);
        row("the URL alone, padded, upper case", {" HTTPS://Example.org/x \n"}, save,
            "https://example.org/x", 0);
        row("--toggle-library", {"--toggle-library"}, int(Command::Kind::ToggleLibrary), "", 0);
        row("--help", {"--help"}, -1, "--save URL", 0);
        row("--version", {"--version"}, -1, Product::version, 0);
        row("file link", {"file:///etc/passwd"}, -1, "only http and https links");
        // Each letter is six characters encoded: the running copy would be handed 8,600.
        const QString cyrillic = "https://example.org/" + QString(1430, QChar(0x0436));
        QTest::newRow("too long once encoded")
            << QStringList{cyrillic} << -1 << QStringLiteral("at most 8192") << 2;
        row("control characters echoed harmlessly", {"\x1b]0;x\x07"}, -1, "\"?]0;x?\" is not");
        row("--save without a link", {"--save"}, -1, "--save needs a link");
        row("unknown option", {"--frobnicate"}, -1, "unknown option \"--frobnicate\"");
    }
    void parse() {
        QFETCH(QStringList, arguments);
        QFETCH(int, kind);
        QFETCH(QString, linkOrMessage);
        QFETCH(int, status);
        const CommandLine::Parsed parsed = CommandLine::parse(arguments);
        QCOMPARE(parsed.exitStatus, status);
        QCOMPARE(parsed.command.has_value(), kind >= 0);
        if (kind < 0) {
            QVERIFY2(parsed.message.contains(linkOrMessage), qPrintable(parsed.message));
            return;
        }
        QCOMPARE(int(parsed.command->kind), kind);
        QCOMPARE(parsed.command->link, QUrl(linkOrMessage));
    }

    // Several links: each once, in order, at most 100; from arguments (each a link) or from
    // standard input (the http(s) links of the text, at most 1 MiB); the clipboard's.
    void parseMany_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QStringList>("links"); // empty: refused with `message`
        QTest::addColumn<QString>("message");
        const QStringList abc{"https://a.test/", "https://b.test/", "https://c.test/"};
        QTest::newRow("arguments") << (QStringList{"--save"} + abc) << QByteArray() << abc
                                   << QString();
        QTest::newRow("arguments, a duplicate")
            << QStringList{"--save", "https://a.test/", "https://b.test/", "https://a.test/"}
            << QByteArray() << QStringList{"https://a.test/", "https://b.test/"} << QString();
        QTest::newRow("an argument not a link")
            << QStringList{"--save", "https://a.test/", "ftp://b.test/"} << QByteArray()
            << QStringList() << "is not a link Pinlark can save";
        QTest::newRow("standard input")
            << QStringList{"--save", "-"}
            << QByteArray("see https://a.test/,\nhttps://b.test/ and https://c.test/ ftp://x/")
            << abc << QString();
        QTest::newRow("standard input, no link")
            << QStringList{"--save", "-"} << QByteArray("nothing") << QStringList()
            << "no http or https link";
        QByteArray many;
        for (int i = 0; i < 101; ++i)
            many += "https://e.test/" + QByteArray::number(i) + "\n";
        QTest::newRow("101 links") << QStringList{"--save", "-"} << many << QStringList()
                                   << "101 links: at most 100 go in one save";
        QTest::newRow("over 1 MiB")
            << QStringList{"--save", "-"} << QByteArray(CommandLine::maxInput + 1, 'x')
            << QStringList() << "more than 1048576 bytes";
        QTest::newRow("--save-clipboard") << QStringList{"--save-clipboard"} << QByteArray()
                                          << QStringList{"clipboard"} << QString();
        QTest::newRow("--save-clipboard and more")
            << QStringList{"--save-clipboard", "x"} << QByteArray() << QStringList()
            << "takes nothing more";
    }
    void parseMany() {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(QStringList, links);
        QFETCH(QString, message);
        const CommandLine::Parsed parsed =
            CommandLine::parse(arguments, [&] { return std::optional(input); });
        if (links.isEmpty()) {
            QVERIFY(!parsed.command);
            QCOMPARE(parsed.exitStatus, 2);
            QVERIFY2(parsed.message.contains(message), qPrintable(parsed.message));
            return;
        }
        QVERIFY2(parsed.command, qPrintable(parsed.message));
        QCOMPARE(parsed.command->kind, Command::Kind::Save);
        if (links == QStringList{"clipboard"}) {
            QVERIFY(parsed.command->clipboard);
            return;
        }
        QStringList got;
        for (const QUrl& link : parsed.command->links)
            got << link.toString();
        QCOMPARE(got, links);
        QCOMPARE(parsed.command->link, QUrl(links.first()));
    }

    // A signal to end ends the event loop as Quit does, with status 0.
    void quitsOnSignals_data() {
        QTest::addColumn<int>("number");
        for (const int number : {SIGTERM, SIGHUP, SIGINT})
            QTest::addRow("%s", strsignal(number)) << number;
    }
    void quitsOnSignals() {
        QFETCH(int, number);
        const QuitSignals quitSignals;
        QTimer::singleShot(0, [number] { std::raise(number); });
        QTimer::singleShot(10000, [] { QCoreApplication::exit(1); }); // a watchdog
        QCOMPARE(QCoreApplication::exec(), 0);
    }

    // The message box ends with the button pressed, or with no answer: Escape, the close
    // button, a quit on a signal while it is open. A button that loses something is never the
    // default.
    void alertAnswers_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("destructive");
        QTest::addColumn<int>("answer");
        QTest::newRow("return: the default") << "return" << 1 << 0;
        QTest::newRow("return: never the destructive one") << "return" << 0 << 1;
        QTest::newRow("escape") << "escape" << 1 << Alerts::noAnswer;
        QTest::newRow("close") << "close" << 1 << Alerts::noAnswer;
        QTest::newRow("SIGTERM") << "quit" << 1 << Alerts::noAnswer;
    }
    void alertAnswers() {
        QFETCH(QString, action);
        QFETCH(int, destructive);
        QFETCH(int, answer);
        const QuitSignals quitSignals;
        MessageBoxAlerts alerts;
        int answered = -2;
        QTimer::singleShot(0, [&] {
            answered =
                alerts.run(Alert{u"2 links are waiting"_s, {}, {u"A"_s, u"B"_s}, destructive});
            QCoreApplication::exit(0);
        });
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            QWidget* box = QApplication::activeModalWidget();
            if (!box || !box->isVisible())
                return;
            poll.stop();
            if (action == "return"_L1 || action == "escape"_L1)
                QTest::keyClick(box, action == "return"_L1 ? Qt::Key_Return : Qt::Key_Escape);
            else if (action == "close"_L1)
                box->close();
            else
                std::raise(SIGTERM);
        });
        poll.start(10);
        QTimer::singleShot(10000, [] { QCoreApplication::exit(1); }); // a watchdog
        QCOMPARE(QCoreApplication::exec(), 0);
        QCOMPARE(answered, answer);
    }
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
