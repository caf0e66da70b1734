#include "TestSupport.h"
#include "platform/linux/BrowserWorkspace.h"

namespace pinlark {

// Opening a link, against stand-ins for xdg-mime, gio, xdg-open, x-www-browser and a browser on
// PATH that log how they were called; each answers or ends as its row asks. Only web and mail
// links reach any of them.
class TestBrowserWorkspace : public QObject {
    Q_OBJECT

    TestHome home;
    QString log;
    BrowserWorkspace workspace;

    // Per row: $BROWSER, the desktop's default for the scheme, how xdg-open and the browser end
    // and how gio launch ends; the calls made ({u} is the link, {f} firefox's entry) and whether
    // the link was opened.
    struct Case {
        QUrl url{u"https://a.example/x?q=1"_s};
        QString browser{}, handler = u"firefox.desktop"_s;
        int status = 0, launch = 0;
        QString calls{};
        bool opened = true;
    };

private Q_SLOTS:
    void initTestCase() {
        FakePlatform::install();
        const QString bin = home.path() + u"/bin/"_s;
        log = home.path() + u"/log"_s;
        const QByteArray logs = "#!/bin/sh\necho \"${0##*/} $*\" >>\"$LOG\"\n";
        const std::pair<QString, QByteArray> stubs[] = {
            {u"xdg-mime"_s, "echo \"$DEFAULT\""},
            {u"gio"_s, "[ \"$1\" = launch ] && exit \"$LAUNCH\"\nprintf 'Default application for "
                       "\"%s\": %s\\nRegistered applications:\\n\\tapp.pinlark.Pinlark.desktop"
                       "\\n\\tgone.desktop\\n\\tfirefox.desktop\\n' \"$2\" \"$DEFAULT\""},
            {u"xdg-open"_s, "exit \"$OPEN\""},
            {u"x-www-browser"_s, ""},
            {u"browser"_s, "exit \"$OPEN\""}};
        for (const auto& [name, body] : stubs)
            QVERIFY(writeFile(bin + name, logs + body + '\n', 0755));
        QVERIFY(writeFile(home.data() + u"/applications/firefox.desktop"_s,
                          "[Desktop Entry]\nType=Application\nName=F\nExec=f %u\n"));
        qputenv("PATH", bin.toLocal8Bit() + ':' + qgetenv("PATH"));
        qputenv("LOG", log.toLocal8Bit());
    }

    void open_data() {
        QTest::addColumn<Case>("c");
        const QString pinlark = u"app.pinlark.Pinlark.desktop"_s,
                      asked = u"xdg-mime query default x-scheme-handler/https\n"
                              "gio mime x-scheme-handler/https\n"_s;
        QTest::newRow("$BROWSER, link placed")
            << Case{.browser = u"browser --url=%s"_s, .calls = u"browser --url={u}\n"_s};
        QTest::newRow("$BROWSER fails, then xdg-open fails")
            << Case{.browser = u"browser"_s, .status = 3,
                    .calls = u"browser {u}\n"_s + asked + u"xdg-open {u}\n"_s, .opened = false};
        QTest::newRow("the desktop's") << Case{.calls = asked + u"xdg-open {u}\n"_s};
        QTest::newRow("Pinlark the default: the next application")
            << Case{.handler = pinlark, .calls = asked + u"gio launch {f} {u}\n"_s};
        QTest::newRow("Pinlark the default, the next fails: x-www-browser")
            << Case{.handler = pinlark, .launch = 1,
                    .calls = asked + u"gio launch {f} {u}\nx-www-browser {u}\n"_s};
        QTest::newRow("a file link")
            << Case{.url = QUrl(u"file:///etc/passwd"_s), .browser = u"browser"_s, .opened = false};
    }
    void open() {
        QFETCH(Case, c);
        const auto& [url, browser, handler, status, launch, calls, opened] = c;
        QFile::remove(log);
        qputenv("BROWSER", browser.toLocal8Bit());
        qputenv("DEFAULT", handler.toLocal8Bit());
        qputenv("OPEN", QByteArray::number(status));
        qputenv("LAUNCH", QByteArray::number(launch));
        QCOMPARE(runTask(workspace.open(url)), opened);
        QCOMPARE(QString::fromUtf8(readFile(log)),
                 QString(calls)
                     .replace(u"{u}"_s, url.toString(QUrl::FullyEncoded))
                     .replace(u"{f}"_s, home.data() + u"/applications/firefox.desktop"_s));
    }
};

} // namespace pinlark

QTEST_GUILESS_MAIN(pinlark::TestBrowserWorkspace)
#include "tst_browserworkspace.moc"
