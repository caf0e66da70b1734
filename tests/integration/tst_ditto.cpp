#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <sys/stat.h>
#include <unistd.h>

using namespace pinlark;

namespace {

const QString ditto = QStringLiteral(PINLARK_APP_PATH "/Contents/Helpers/ditto");

struct Run {
    int status;
    QString error;
};

Run run(const QStringList& arguments) {
    QProcess p;
    p.start(ditto, arguments);
    if (!p.waitForFinished(10000))
        return {-1, u"no end"_s};
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardError())};
}

mode_t modeOf(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode : 0;
}

// Where a link leads, as it is written.
QString linkText(const QString& path) {
    char buffer[4096];
    const ssize_t n = ::readlink(QFile::encodeName(path).constData(), buffer, sizeof buffer);
    return n < 0 ? QString() : QFile::decodeName(QByteArray(buffer, int(n)));
}

} // namespace

// The helper the update swap copies bundles with, run as the swap runs it: a copy keeps contents,
// times and links as they are, and modes only as far as a seal allows, as unpacking does.
class TestDitto : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Each row: a path in the source, its kind ("file", "folder", "link <target>") and mode;
    // then the mode the copy has (0: a link, copied as a link).
    void copy_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("copied");
        QTest::newRow("a program") << "MacOS/Pinlark" << "file" << 0755 << 0755;
        QTest::newRow("the owner's alone") << "Resources/key" << "file" << 0600 << 0600;
        QTest::newRow("set-id, open to all") << "MacOS/open" << "file" << 07777 << 0755;
        QTest::newRow("a folder others may write") << "Shared" << "folder" << 0777 << 0755;
        QTest::newRow("a sticky, set-group folder") << "Sticky" << "folder" << 03775 << 0755;
        QTest::newRow("a link within") << "Current" << "link MacOS/Pinlark" << 0 << 0;
        QTest::newRow("a dangling link") << "Gone" << "link /nonexistent/x" << 0 << 0;
    }
    void copy() {
        QFETCH(QString, path);
        QFETCH(QString, kind);
        QFETCH(int, mode);
        QFETCH(int, copied);
        QTemporaryDir dir;
        const QString from = dir.filePath(u"from"_s), to = dir.filePath(u"to"_s);
        const QString source = from + u'/' + path;
        QVERIFY(writeFile(from + u"/MacOS/Pinlark"_s, "#!/bin/sh\n", 0755));
        if (kind == u"file"_s)
            QVERIFY(writeFile(source, "contents", 0644));
        else if (kind == u"folder"_s)
            QVERIFY(QDir().mkpath(source + u"/inside"_s));
        else
            QVERIFY(QFile::link(kind.section(u' ', 1), source));
        if (mode)
            QCOMPARE(::chmod(QFile::encodeName(source).constData(), mode_t(mode)), 0);
        const QDateTime then = QDateTime(QDate(2001, 2, 3), QTime(4, 5, 6), Qt::UTC);
        QProcess::execute(u"touch"_s, {u"-h"_s, u"-d"_s, u"2001-02-03 04:05:06Z"_s, source});

        const Run r = run({from, to});
        QVERIFY2(r.status == 0, qPrintable(r.error));
        const QString copy = to + u'/' + path;
        const QFileInfo info(copy);
        if (kind.startsWith(u"link"_s)) {
            QVERIFY(info.isSymLink());
            QCOMPARE(linkText(copy), kind.section(u' ', 1));
        } else {
            QCOMPARE(int(modeOf(copy) & 07777), copied);
            QCOMPARE(info.lastModified().toUTC(), then);
        }
        if (kind == u"file"_s)
            QCOMPARE(readFile(copy), QByteArray("contents"));
        if (kind == u"folder"_s)
            QVERIFY(QFileInfo(copy + u"/inside"_s).isDir());
        if (path != u"MacOS/Pinlark"_s)
            QCOMPARE(readFile(to + u"/MacOS/Pinlark"_s), QByteArray("#!/bin/sh\n"));
    }

    // What it can't copy, and a command line it doesn't know, end it with a message.
    void refusals() {
        QTemporaryDir dir;
        const QString fifo = dir.filePath(u"from/pipe"_s);
        QVERIFY(QDir().mkpath(dir.filePath(u"from"_s)));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        Run r = run({dir.filePath(u"from"_s), dir.filePath(u"to"_s)});
        QCOMPARE(r.status, 1);
        QCOMPARE(r.error, u"ditto: %1: not a file, folder or link\n"_s.arg(fifo));
        r = run({dir.filePath(u"missing"_s), dir.filePath(u"to2"_s)});
        QCOMPARE(r.status, 1);
        QVERIFY(!QFileInfo::exists(dir.filePath(u"to2"_s)));
        for (const QStringList& wrong : {QStringList{u"-x"_s, u"a"_s}, QStringList{u"-v"_s, u"b"_s},
                                         QStringList{u"a"_s}})
            QCOMPARE(run(wrong).status, 2);
    }
};

QTEST_GUILESS_MAIN(TestDitto)
#include "tst_ditto.moc"
