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
    // What a launch's arguments (and standard input, for "--save -") ask for, as "reopen",
    // "toggle-library", "clipboard" or "save" and its links; or what is printed before the exit
    // ("exit <status>: <a part of the message>"). A save takes each link once, in order, at most
    // 100; from standard input the http(s) links of the text, at most 1 MiB.
    void parse_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, QStringList arguments, const QString& expected,
                            const QByteArray& input = {}) {
            QTest::newRow(name) << arguments << input << expected;
        };
        row("nothing: reopen", {}, "reopen");
        row("--save URL", {"--save", "https://example.org/a?b=c#d"}, "save https://example.org/a?b=c#d");
        row("the URL alone, padded, upper case", {" HTTPS://Example.org/x \n"},
            "save https://example.org/x");
        row("--toggle-library", {"--toggle-library"}, "toggle-library");
        row("--help", {"--help"}, "exit 0: --save URL");
        row("--version", {"--version"}, "exit 0: " + QString::fromUtf8(Product::version));
        row("file link", {"file:///etc/passwd"}, "exit 2: only http and https links");
        // Each letter is six characters encoded: the running copy would be handed 8,600.
        row("too long once encoded", {"https://example.org/" + QString(1430, QChar(0x0436))},
            "exit 2: at most 8192");
        row("control characters echoed harmlessly", {"\x1b]0;x\x07"}, "exit 2: \"?]0;x?\" is not");
        row("--save without a link", {"--save"}, "exit 2: --save needs a link");
        row("unknown option", {"--frobnicate"}, "exit 2: unknown option \"--frobnicate\"");
        row("arguments, a duplicate",
            {"--save", "https://a.test/", "https://b.test/", "https://a.test/"},
            "save https://a.test/ https://b.test/");
        row("an argument not a link", {"--save", "https://a.test/", "ftp://b.test/"},
            "exit 2: is not a link Pinlark can save");
        row("standard input", {"--save", "-"}, "save https://a.test/ https://b.test/ https://c.test/",
            "see https://a.test/,\nhttps://b.test/ and https://c.test/ ftp://x/");
        row("standard input, no link", {"--save", "-"}, "exit 2: no http or https link", "nothing");
        QByteArray many;
        for (int i = 0; i < 101; ++i)
            many += "https://e.test/" + QByteArray::number(i) + "\n";
        row("101 links", {"--save", "-"}, "exit 2: 101 links: at most 100 go in one save", many);
        row("over 1 MiB", {"--save", "-"}, "exit 2: more than 1048576 bytes",
            QByteArray(CommandLine::maxInput + 1, 'x'));
        row("--save-clipboard", {"--save-clipboard"}, "clipboard");
        row("--save-clipboard and more", {"--save-clipboard", "x"}, "exit 2: takes nothing more");
    }
    void parse() {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(QString, expected);
        const CommandLine::Parsed p = CommandLine::parse(arguments, [&] { return std::optional(input); });
        if (!p.command) {
            const QString exit = u"exit %1: "_s.arg(p.exitStatus);
            QVERIFY2(expected.startsWith(exit) && p.message.contains(expected.mid(exit.size())),
                     qPrintable(exit + p.message));
            return;
        }
        QCOMPARE(p.exitStatus, 0);
        QStringList links{p.command->link.toString()};
        for (const QUrl& link : p.command->links.mid(1))
            links << link.toString();
        const Command::Kind kind = p.command->kind;
        QCOMPARE(kind == Command::Kind::Reopen          ? u"reopen"_s
                 : kind == Command::Kind::ToggleLibrary ? u"toggle-library"_s
                 : p.command->clipboard                 ? u"clipboard"_s
                 : kind == Command::Kind::Save          ? u"save "_s + links.join(u' ')
                                                        : u"?"_s,
                 expected);
        QVERIFY(p.command->links.isEmpty() || p.command->links.first() == p.command->link);
    }

    // The message box ends with the button pressed, or with no answer: Escape, the close
    // button, a quit on a signal while it is open. A button that loses something is never the
    // default. A signal to end ends the event loop as Quit does, with status 0.
    void alertAnswers_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("destructive");
        QTest::addColumn<int>("answer");
        QTest::newRow("return: the default") << "return" << 1 << 0;
        QTest::newRow("return: never the destructive one") << "return" << 0 << 1;
        QTest::newRow("escape") << "escape" << 1 << Alerts::noAnswer;
        QTest::newRow("close") << "close" << 1 << Alerts::noAnswer;
        for (const int number : {SIGTERM, SIGHUP, SIGINT})
            QTest::addRow("%s", strsignal(number))
                << u"signal %1"_s.arg(number) << 1 << Alerts::noAnswer;
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
                std::raise(action.mid(7).toInt());
        });
        poll.start(10);
        QTimer::singleShot(10000, [] { QCoreApplication::exit(1); }); // a watchdog
        QCOMPARE(QCoreApplication::exec(), 0);
        QCOMPARE(answered, answer);
    }
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
