#include "TestSupport.h"
#include "platform/fake/FakeServices.h"
#include "platform/linux/BrowserWorkspace.h"

namespace pinlark {

// The commands tried for a link, in order: each of $BROWSER's, then the desktop's.
class TestBrowserWorkspace : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void commands_data() {
        QTest::addColumn<QString>("browser");
        QTest::addColumn<QList<QStringList>>("expected");
        const QString u = QStringLiteral("https://a.example/x?q=1");
        QTest::newRow("unset") << QString() << QList<QStringList>{};
        QTest::newRow("link appended") << QStringLiteral("firefox --new-window")
                                       << QList<QStringList>{{"firefox", "--new-window", u}};
        QTest::newRow("link placed, then a second browser")
            << QStringLiteral(R"("my browser" --url=%s:chromium)")
            << QList<QStringList>{{"my browser", "--url=" + u}, {"chromium", u}};
    }
    void commands() {
        QFETCH(QString, browser);
        QFETCH(QList<QStringList>, expected);
        QCOMPARE(BrowserWorkspace::commands(browser, QStringLiteral("https://a.example/x?q=1")),
                 expected);
    }

    // Where Pinlark's own entry is the default, a link goes anywhere but to Pinlark.
    void desktopCommands_data() {
        QTest::addColumn<BrowserWorkspace::Handlers>("handlers");
        QTest::addColumn<QList<QStringList>>("expected");
        const QString u = QStringLiteral("https://a.example/"), other = u"/a/other.desktop"_s;
        QTest::newRow("another default") << BrowserWorkspace::Handlers{false, {other}, u"/b/x"_s}
                                         << QList<QStringList>{{"xdg-open", u}};
        QTest::newRow("Pinlark default, then others")
            << BrowserWorkspace::Handlers{true, {other}, u"/b/x"_s}
            << QList<QStringList>{{"gio", "launch", other, u}, {"/b/x", u}};
        QTest::newRow("Pinlark alone")
            << BrowserWorkspace::Handlers{true, {}, {}} << QList<QStringList>{};
    }
    void desktopCommands() {
        QFETCH(BrowserWorkspace::Handlers, handlers);
        QFETCH(QList<QStringList>, expected);
        QCOMPARE(BrowserWorkspace::desktopCommands(QStringLiteral("https://a.example/"), handlers),
                 expected);
    }

    // The desktop's answers as xdg-mime and gio give them: gio may name Pinlark the default
    // where xdg-mime does not, and Pinlark's own entry is never among the others.
    void handlers() {
        TestHome home;
        const QString bin = home.path() + u"/bin"_s,
                      firefox = home.data() + u"/applications/firefox.desktop"_s;
        QVERIFY(writeFile(bin + u"/xdg-mime"_s, "#!/bin/sh\necho firefox.desktop\n", 0755));
        QVERIFY(writeFile(bin + u"/gio"_s,
                          "#!/bin/sh\nprintf 'Default application for \"%s\": "
                          "app.pinlark.Pinlark.desktop\nRegistered applications:\n"
                          "\tapp.pinlark.Pinlark.desktop\n\tgone.desktop\n\tfirefox.desktop\n"
                          "Recommended applications:\n\tapp.pinlark.Pinlark.desktop\n' \"$2\"\n",
                          0755));
        QVERIFY(writeFile(firefox, "[Desktop Entry]\nType=Application\nName=F\nExec=f %u\n"));
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", bin.toLocal8Bit() + ':' + path);
        const BrowserWorkspace::Handlers found = BrowserWorkspace::handlers(u"https"_s);
        qputenv("PATH", path);
        QVERIFY(found.defaultIsPinlark);
        QCOMPARE(found.others, QStringList{firefox});
    }

    // What the desktop is handed: web and mail links only, whatever the implementation.
    void leavesApp_data() {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<bool>("opened");
        QTest::newRow("https, upper case") << QUrl(u"HTTPS://a.example/"_s) << true;
        QTest::newRow("mail") << QUrl(u"mailto:a@example.test"_s) << true;
        QTest::newRow("file") << QUrl(u"file:///etc/passwd"_s) << false;
        QTest::newRow("share") << QUrl(u"smb://host/share"_s) << false;
        QTest::newRow("custom, no host") << QUrl(u"x-handler:run"_s) << false;
        QTest::newRow("script") << QUrl(u"javascript:alert(1)"_s) << false;
    }
    void leavesApp() {
        QFETCH(QUrl, url);
        QFETCH(bool, opened);
        FakeWorkspace workspace;
        QCOMPARE(workspace.open(url), opened);
        QCOMPARE(workspace.opened, opened ? QList<QUrl>{url} : QList<QUrl>{});
    }
};

} // namespace pinlark

QTEST_GUILESS_MAIN(pinlark::TestBrowserWorkspace)
#include "tst_browserworkspace.moc"
