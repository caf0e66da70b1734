#include "platform/BundleLocation.h"
#include "platform/fake/FakePlatform.h"
#include "support/TestSupport.h"
#include "update/Installer.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

using namespace pinlark;

// The guards on where the app lies, on real folders: who may change them, and whether the app
// may write beside itself. Run as root and, through tests/support/as-another-user.sh, as an
// ordinary user, for whom root's folders are not the user's own and a folder without write
// permission can't be written.
class TestPlaceGuards : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_root;

    QString at(const QString& relative) const { return m_root + u'/' + relative; }
    bool folder(const QString& relative, mode_t mode) const {
        return QDir().mkpath(at(relative)) &&
               ::chmod(QFile::encodeName(at(relative)).constData(), mode) == 0;
    }
    bool link(const QString& relative, const QString& target) const {
        return QFile::link(target.startsWith(u'/') ? target : at(target), at(relative));
    }

private Q_SLOTS:
    void init() {
        m_root = QFileInfo(m_dir.path()).canonicalFilePath() + u"/case"_s;
        QDir(m_root).removeRecursively();
        QVERIFY(folder(u"Apps/Pinlark.app/Contents/MacOS"_s, 0755));
        QVERIFY(writeFile(at(u"Apps/Pinlark.app/Contents/MacOS/Pinlark"_s), "#!/bin/sh\n", 0755));
        QVERIFY(folder(u"Private"_s, 0755));
        QVERIFY(folder(u"Shared"_s, 0777));
    }
    void cleanup() {
        // Folders a row left without write permission go too.
        for (const QString& f : {u"ReadOnly"_s, u"Apps"_s})
            ::chmod(QFile::encodeName(at(f)).constData(), 0755);
        QDir(m_root).removeRecursively();
    }

    // Each row changes the scene around Apps/Pinlark.app, then names the path it asks about and
    // the first place another user could change ("" for none), relative to the scene.
    void othersCanChange_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("asked");
        QTest::addColumn<QString>("shared");
        const QString bundle = u"Apps/Pinlark.app"_s;
        const auto row = [&](const char* change, const QString& asked, const QString& shared) {
            QTest::newRow(change) << QString::fromUtf8(change) << asked << shared;
        };
        row("the user's own folders", bundle, {});
        row("a folder everyone may write", u"Shared"_s, u"Shared"_s);
        row("a sticky folder everyone may write", u"Sticky/Pinlark.app"_s, u"Sticky"_s);
        row("a folder its group may write", bundle, u"Apps"_s);
        row("a program inside others may write", bundle, bundle + u"/Contents/MacOS/Pinlark"_s);
        row("a link inside to a folder others may write", bundle, bundle + u"/Contents/Helpers"_s);
        row("a link inside to a private folder", bundle, {});
        row("a link inside within the bundle", bundle, {});
        row("a dangling link inside", bundle, bundle + u"/Contents/Helpers"_s);
        row("the bundle reached through a shared folder", u"Shared/Pinlark.app"_s, u"Shared"_s);
        row("a link to a bundle in a shared folder", u"Apps/Link.app"_s, u"Shared"_s);
        row("a bundle that isn't there", u"Apps/Gone.app"_s, u"Apps/Gone.app"_s);
        row("a folder another user owns", bundle, u"Apps"_s);
        row("a program outside a bundle", u"Apps/Pinlark.app/Contents/MacOS/Pinlark"_s, {});
        // Only a bundle is searched inside: a program's own folder may be /usr/bin.
        row("a folder that isn't a bundle", u"Apps/Pinlark.app/Contents"_s, {});
    }
    void othersCanChange() {
        QFETCH(QString, change);
        QFETCH(QString, asked);
        QFETCH(QString, shared);
        const QString contents = u"Apps/Pinlark.app/Contents/"_s;
        const auto is = [&](const char* c) { return change == QLatin1String(c); };
        if (is("a sticky folder everyone may write"))
            QVERIFY(folder(u"Sticky/Pinlark.app"_s, 0755) && folder(u"Sticky"_s, 01777));
        if (is("a folder its group may write"))
            QVERIFY(folder(u"Apps"_s, 0775));
        if (is("a program inside others may write") || is("a folder that isn't a bundle"))
            QVERIFY(::chmod(QFile::encodeName(at(contents + u"MacOS/Pinlark"_s)).constData(),
                            0757) == 0);
        if (is("a link inside to a folder others may write"))
            QVERIFY(link(contents + u"Helpers"_s, u"Shared"_s));
        if (is("a link inside to a private folder"))
            QVERIFY(link(contents + u"Helpers"_s, u"Private"_s));
        if (is("a link inside within the bundle"))
            QVERIFY(link(contents + u"Helpers"_s, contents + u"MacOS"_s));
        if (is("a dangling link inside"))
            QVERIFY(link(contents + u"Helpers"_s, u"Private/none"_s));
        if (is("the bundle reached through a shared folder"))
            QVERIFY(link(u"Shared/Pinlark.app"_s, u"Apps/Pinlark.app"_s));
        if (is("a link to a bundle in a shared folder")) {
            QVERIFY(folder(u"Shared/Real.app/Contents"_s, 0755));
            QVERIFY(link(u"Apps/Link.app"_s, u"Shared/Real.app"_s));
        }
        if (is("a folder another user owns")) {
            if (::geteuid() != 0)
                QSKIP("only root can give a folder to another user");
            QCOMPARE(::chown(QFile::encodeName(at(u"Apps"_s)).constData(), 65534, 65534), 0);
        }
        const auto found = BundleLocation::folderOthersCanChange(at(asked));
        QCOMPARE(found.value_or(QString()), shared.isEmpty() ? QString() : at(shared));
    }

    // The updater and the desktop registration write beside the bundle: a folder the user may not
    // write stops them, as a folder others may change does. Root may write anywhere.
    void writeRefusal() {
        FakePlatform fakes = FakePlatform::install();
        QVERIFY(folder(u"ReadOnly/Pinlark.app"_s, 0755) && folder(u"ReadOnly"_s, 0555));
        fakes.bundle->bundlePath = at(u"ReadOnly/Pinlark.app"_s);
        QCOMPARE(Installer::blocker().value_or(QString()),
                 ::geteuid() == 0 ? QString() : u"Pinlark can't write to %1."_s.arg(at(u"ReadOnly"_s)));
        fakes.bundle->bundlePath = at(u"Apps/Pinlark.app"_s);
        QCOMPARE(Installer::blocker(), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestPlaceGuards)
#include "tst_placeguards.moc"
