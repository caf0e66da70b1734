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
        fakes.defaults->set(u"origin"_s, service.origin().toString());
        QNetworkCookie cookie("authjs.session-token", service.signIn().toUtf8());
        cookie.setDomain(service.origin().host());
        cookie.setPath(u"/"_s);
        fakes.cookieStore->cookies = {cookie};
    }

    static int count(const QJsonArray& requests, const QString& method, const QString& path) {
        return int(std::count_if(requests.begin(), requests.end(), [&](const QJsonValue& r) {
            return r["method"_L1].toString() == method && r["path"_L1].toString().startsWith(path);
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
        model.setUrl(u" https://example.test/article \n"_s);
        model.save();
        QCOMPARE(model.phase(), Phase(phase::Saving{}));
        // Saved, refreshed, and asleep before the first poll.
        QTRY_VERIFY(fakes.clock->pendingCount() == 1);
        const auto* done = std::get_if<phase::Done>(&model.phase());
        QVERIFY(done);
        QCOMPARE(done->row.status, u"queued"_s);
        QCOMPARE(model.recent().size(), 1);

        for (int poll = 1; poll <= 3; ++poll) {
            fakes.clock->advance(1500ms);
            if (poll < 3)
                QTRY_VERIFY(fakes.clock->pendingCount() == 1);
        }
        QTRY_COMPARE(std::get<phase::Done>(model.phase()).row.status, u"done"_s);
        QTRY_COMPARE(count(service.requests(), u"GET"_s, u"/api/saves"_s), 5);
        const QJsonArray requests = service.requests();
        QCOMPARE(count(requests, u"POST"_s, u"/api/saves"_s), 1);
        QCOMPARE(count(requests, u"GET"_s, u"/api/saves/"_s), 3);
        QCOMPARE(fakes.clock->pendingCount(), 0);
        QVERIFY(std::get<phase::Done>(model.phase()).row.title.has_value());
    }
};

} // namespace pinlark

QTEST_GUILESS_MAIN(pinlark::TestQuickSave)
#include "tst_quicksave.moc"
