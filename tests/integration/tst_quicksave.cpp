#include "DevService.h"
#include "TestSupport.h"
#include "platform/fake/FakePlatform.h"
#include "quicksave/QuickSaveModel.h"

#include <QJsonObject>
#include <QTest>

using namespace std::chrono_literals;

namespace pinlark {

// The quick-save model end to end: the real client against the stand-in service, with the
// poll sleeps on a manual clock.
class TestQuickSave : public QObject {
    Q_OBJECT

    FakePlatform fakes;

    void signInTo(DevService& service) {
        fakes.defaults->set(QStringLiteral("origin"), service.origin().toString());
        QNetworkCookie cookie("authjs.session-token", service.signIn().toUtf8());
        cookie.setDomain(service.origin().host());
        cookie.setPath(QStringLiteral("/"));
        fakes.cookieStore->cookies = {cookie};
    }

    static int count(const QJsonArray& requests, const QString& method, const QString& path) {
        return int(std::count_if(requests.begin(), requests.end(), [&](const QJsonValue& r) {
            return r[QLatin1String("method")].toString() == method &&
                   r[QLatin1String("path")].toString().startsWith(path);
        }));
    }

private Q_SLOTS:
    void init() {
        TestState::reset();
        fakes = FakePlatform::install();
    }

    void savesAndPollsUntilFiled() {
        DevService service; // settles on the third read
        QVERIFY(service.isRunning());
        signInTo(service);
        service.clearRequests();

        QuickSaveModel model;
        model.setUrl(QStringLiteral(" https://example.test/article \n"));
        model.save();
        QCOMPARE(model.phase(), Phase(phase::Saving{}));
        // Saved, refreshed, and asleep before the first poll.
        QTRY_VERIFY(fakes.clock->pendingCount() == 1);
        const auto* done = std::get_if<phase::Done>(&model.phase());
        QVERIFY(done);
        QCOMPARE(done->row.status, QStringLiteral("queued"));
        QCOMPARE(done->row.url, QStringLiteral("https://example.test/article"));
        QCOMPARE(model.url(), QString());
        QCOMPARE(model.recent().size(), 1);

        for (int poll = 1; poll <= 3; ++poll) {
            fakes.clock->advance(1500ms);
            if (poll < 3)
                QTRY_VERIFY(fakes.clock->pendingCount() == 1);
        }
        QTRY_COMPARE(std::get<phase::Done>(model.phase()).row.status, QStringLiteral("done"));
        QTRY_COMPARE(count(service.requests(), QStringLiteral("GET"), QStringLiteral("/api/saves")),
                     5);
        const QJsonArray requests = service.requests();
        QCOMPARE(count(requests, QStringLiteral("POST"), QStringLiteral("/api/saves")), 1);
        QCOMPARE(count(requests, QStringLiteral("GET"), QStringLiteral("/api/saves/")), 3);
        QCOMPARE(fakes.clock->pendingCount(), 0);
        QVERIFY(std::get<phase::Done>(model.phase()).row.title.has_value());
    }

    void signedOutKeepsTheText() {
        DevService service;
        QVERIFY(service.isRunning());
        fakes.defaults->set(QStringLiteral("origin"), service.origin().toString());
        service.clearRequests();
        QuickSaveModel model;
        model.setUrl(QStringLiteral("https://example.test/"));
        model.save();
        QTRY_COMPARE(model.phase(), Phase(phase::SignedOut{}));
        QCOMPARE(model.url(), QStringLiteral("https://example.test/"));
        QCOMPARE(service.requests().size(), 0);
    }
};

} // namespace pinlark

QTEST_GUILESS_MAIN(pinlark::TestQuickSave)
#include "tst_quicksave.moc"
