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
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<QString>("browser"); // $BROWSER
        QTest::addColumn<QString>("handler"); // the desktop's default for the scheme
        QTest::addColumn<int>("status");      // of xdg-open and the browser
        QTest::addColumn<int>("launch");      // of gio launch
        QTest::addColumn<QString>("calls");   // {u} is the link, {f} firefox's entry
        QTest::addColumn<bool>("opened");
        const QUrl u(u"https://a.example/x?q=1"_s);
        const QString pinlark = u"app.pinlark.Pinlark.desktop"_s, firefox = u"firefox.desktop"_s,
                      asked = u"xdg-mime query default x-scheme-handler/https\n"
                              "gio mime x-scheme-handler/https\n"_s;
        QTest::newRow("$BROWSER, link placed")
            << u << u"browser --url=%s"_s << firefox << 0 << 0 << u"browser --url={u}\n"_s << true;
        QTest::newRow("$BROWSER fails, then xdg-open fails")
            << u << u"browser"_s << firefox << 3 << 0
            << u"browser {u}\n"_s + asked + u"xdg-open {u}\n"_s << false;
        QTest::newRow("the desktop's")
            << u << QString() << firefox << 0 << 0 << asked + u"xdg-open {u}\n"_s << true;
        QTest::newRow("Pinlark the default: the next application")
            << u << QString() << pinlark << 0 << 0 << asked + u"gio launch {f} {u}\n"_s << true;
        QTest::newRow("Pinlark the default, the next fails: x-www-browser")
            << u << QString() << pinlark << 0 << 1
            << asked + u"gio launch {f} {u}\nx-www-browser {u}\n"_s << true;
        QTest::newRow("a file link") << QUrl(u"file:///etc/passwd"_s) << u"browser"_s << firefox
                                     << 0 << 0 << QString() << false;
    }
    void open() {
        QFETCH(QUrl, url);
        QFETCH(QString, browser);
        QFETCH(QString, handler);
        QFETCH(int, status);
        QFETCH(int, launch);
        QFETCH(QString, calls);
        QFETCH(bool, opened);
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
