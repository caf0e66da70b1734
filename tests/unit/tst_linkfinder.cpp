#include "TestSupport.h"
#include "quicksave/LinkFinder.h"

#include <QTest>

namespace pinlark {

class TestLinkFinder : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The http(s) links of a text, in order, each once, and how many other links were left out.
    void finds_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("links");
        QTest::addColumn<int>("leftOut");
        const auto add = [](const char* name, const QString& text, const QStringList& links,
                            int leftOut = 0) { QTest::newRow(name) << text << links << leftOut; };
        add("empty", {}, {});
        add("words only", u"nothing to see here"_s, {});
        add("one", u"https://a.test/x"_s, {u"https://a.test/x"_s});
        add("lines", u"https://a.test/1\nhttp://b.test/2\r\nhttps://c.test/3\n"_s,
            {u"https://a.test/1"_s, u"http://b.test/2"_s, u"https://c.test/3"_s});
        add("in a message",
            u"Read https://a.test/post, then (see https://b.test/(x)) and <https://c.test/>."_s,
            {u"https://a.test/post"_s, u"https://b.test/(x)"_s, u"https://c.test/"_s});
        add("markdown", u"[one](https://a.test/1) [two](https://b.test/2)"_s,
            {u"https://a.test/1"_s, u"https://b.test/2"_s});
        add("quoted", u"\"https://a.test/\" \u201Chttps://b.test/\u201D"_s,
            {u"https://a.test/"_s, u"https://b.test/"_s});
        add("tabs and spaces", u"\thttps://a.test/ \u00A0 https://b.test/\t"_s,
            {u"https://a.test/"_s, u"https://b.test/"_s});
        add("duplicates once, first kept", u"https://a.test/ https://b.test/ HTTPS://A.test/ https://a.test/"_s,
            {u"https://a.test/"_s, u"https://b.test/"_s});
        add("other schemes left out", u"ftp://a.test/ file:///etc/x https://b.test/"_s,
            {u"https://b.test/"_s}, 2);
        add("no host left out", u"https:// https:///x https://c.test/"_s,
            {u"https://c.test/"_s}, 2);
        add("not a URL left out", u"https://exa%mple.test/ https://b.test/"_s,
            {u"https://b.test/"_s}, 1);
        add("too long left out", u"https://a.test/"_s + QString(8200, u'a') + u" https://b.test/"_s,
            {u"https://b.test/"_s}, 1);
        add("plain domain not a link", u"example.test www.example.test"_s, {});
    }
    void finds() {
        QFETCH(QString, text);
        QFETCH(QStringList, links);
        QFETCH(int, leftOut);
        const FoundLinks found = findLinks(text);
        QCOMPARE(found.links, links);
        QCOMPARE(found.count, int(links.size()));
        QCOMPARE(found.leftOut, leftOut);
        QVERIFY(!found.cut);
        QVERIFY(!found.tooMany());
    }

    // At most 100 a save: more are counted, not cut silently; only 101 are kept to say so.
    void bound_data() {
        QTest::addColumn<int>("n");
        QTest::addColumn<bool>("tooMany");
        QTest::newRow("100") << 100 << false;
        QTest::newRow("101") << 101 << true;
    }
    void bound() {
        QFETCH(int, n);
        QFETCH(bool, tooMany);
        QString text;
        for (int i = 0; i < n; ++i)
            text += u"https://e.test/%1\n"_s.arg(i);
        const FoundLinks found = findLinks(text);
        QCOMPARE(found.count, n);
        QCOMPARE(found.tooMany(), tooMany);
        QCOMPARE(found.links.size(), std::min(n, FoundLinks::maxLinks + 1));
        QCOMPARE(found.links.first(), u"https://e.test/0"_s);
    }

    // Megabytes are read up to the bound, quickly, and say they were cut.
    void hugeText() {
        const QString text = u"https://a.test/ "_s + QString(8 * 1024 * 1024, u'x') +
                             u" https://b.test/"_s;
        QElapsedTimer timer;
        timer.start();
        const FoundLinks found = findLinks(text);
        QVERIFY(found.cut);
        QCOMPARE(found.links, QStringList{u"https://a.test/"_s});
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
    }
};

} // namespace pinlark

QTEST_GUILESS_MAIN(pinlark::TestLinkFinder)
#include "tst_linkfinder.moc"
