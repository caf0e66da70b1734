// Round trips of the API client against the stand-in service, beside the same requests made
// through a bare network manager and by curl over one kept-alive connection. Prints the median
// time per request of each and the ratios.
//
//   bench_api [round trips, default 200]

#include "DevService.h"
#include "TestSupport.h"
#include "platform/fake/FakePlatform.h"
#include "service/API.h"

#include <QCoreApplication>
#include <QCoroNetworkReply>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryFile>

#include <algorithm>
#include <cstdio>

using namespace pinlark;

namespace {

double median(QList<double> values) {
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const qsizetype mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// Milliseconds of each save and each get, in order.
QCoro::Task<QList<double>> clientRoundTrips(int count, const QString& prefix, QStringList* ids) {
    QList<double> times;
    QElapsedTimer timer;
    for (int i = 0; i < count; ++i) {
        timer.start();
        const SaveOutcome saved = co_await API::save(prefix + QString::number(i));
        times.append(timer.nsecsElapsed() / 1e6);
        timer.start();
        co_await API::get(saved.id);
        times.append(timer.nsecsElapsed() / 1e6);
        if (ids)
            ids->append(saved.id);
    }
    co_return times;
}

// The same exchanges straight through a network manager of their own, without the client: the
// floor that the transport sets.
QCoro::Task<QList<double>> bareRoundTrips(const DevService& service, const QString& token,
                                          const QStringList& ids) {
    QNetworkAccessManager manager;
    QList<double> times;
    QElapsedTimer timer;
    for (int i = 0; i < ids.size(); ++i) {
        QNetworkRequest save(service.url(QStringLiteral("api/saves")));
        save.setRawHeader("Authorization", "Bearer " + token.toUtf8());
        save.setRawHeader("Content-Type", "application/json");
        QNetworkRequest get(service.url(QStringLiteral("api/saves/") + ids[i]));
        get.setRawHeader("Authorization", "Bearer " + token.toUtf8());
        const QByteArray body =
            "{\"url\":\"https://bench.example.test/bare/" + QByteArray::number(i) + "\"}";
        timer.start();
        QNetworkReply* saving = manager.post(save, body);
        co_await saving;
        saving->readAll();
        saving->deleteLater();
        times.append(timer.nsecsElapsed() / 1e6);
        timer.start();
        QNetworkReply* reading = manager.get(get);
        co_await reading;
        reading->readAll();
        reading->deleteLater();
        times.append(timer.nsecsElapsed() / 1e6);
    }
    co_return times;
}

// The same requests as a curl config: one process, one connection, one time per transfer.
QByteArray curlConfig(const DevService& service, const QString& token, const QStringList& ids) {
    QByteArray config;
    const QByteArray authorization = "header = \"Authorization: Bearer " + token.toUtf8() + "\"\n";
    const QByteArray common = "output = \"/dev/null\"\nwrite-out = \"%{time_total}\\n\"\n";
    for (int i = 0; i < ids.size(); ++i) {
        config += "url = \"" + service.url(QStringLiteral("api/saves")).toEncoded() + "\"\n" +
                  authorization + "header = \"Content-Type: application/json\"\n" +
                  "data = \"{\\\"url\\\":\\\"https://bench.example.test/curl/" +
                  QByteArray::number(i) + "\\\"}\"\n" + common + "next\n";
        config += "url = \"" + service.url(QStringLiteral("api/saves/") + ids[i]).toEncoded() +
                  "\"\n" + authorization + common + "next\n";
    }
    return config;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 200;

    TestHome home;
    FakePlatform fakes = FakePlatform::install();
    DevService service;
    if (!service.isRunning()) {
        std::fprintf(stderr, "bench_api: the stand-in service did not start\n");
        return 1;
    }
    const QString token = service.signIn();
    fakes.defaults->set(QStringLiteral("origin"), service.origin().toString());
    QNetworkCookie cookie("authjs.session-token", token.toUtf8());
    cookie.setDomain(service.origin().host());
    cookie.setPath(QStringLiteral("/"));
    fakes.cookieStore->cookies = {cookie};

    // Warm up: the connection, the first-use costs of both sides.
    runTask(clientRoundTrips(10, QStringLiteral("https://bench.example.test/warm/"), nullptr));

    QStringList ids;
    QElapsedTimer wall;
    wall.start();
    const QList<double> client =
        runTask(clientRoundTrips(count, QStringLiteral("https://bench.example.test/client/"), &ids),
                std::chrono::minutes(5));
    const double clientWall = wall.nsecsElapsed() / 1e6;

    const QList<double> bare =
        runTask(bareRoundTrips(service, token, ids), std::chrono::minutes(5));

    QTemporaryFile config;
    if (!config.open())
        return 1;
    config.write(curlConfig(service, token, ids));
    config.flush();
    QProcess curl;
    wall.start();
    curl.start(QStringLiteral("curl"),
               {QStringLiteral("-s"), QStringLiteral("-K"), config.fileName()});
    curl.waitForFinished(300000);
    const double curlWall = wall.nsecsElapsed() / 1e6;
    QList<double> curlTimes;
    for (const QByteArray& line : curl.readAllStandardOutput().split('\n')) {
        if (!line.isEmpty())
            curlTimes.append(line.toDouble() * 1000);
    }

    const double clientMedian = median(client);
    const double curlMedian = median(curlTimes);
    std::printf("requests per side: %lld (%d save + get round trips)\n",
                static_cast<long long>(client.size()), count);
    std::printf("client  median %.3f ms per request, wall %.1f ms\n", clientMedian, clientWall);
    std::printf("bare    median %.3f ms per request (a network manager without the client)\n",
                median(bare));
    std::printf("curl    median %.3f ms per request, wall %.1f ms (one process, keep-alive)\n",
                curlMedian, curlWall);
    std::printf("ratio   %.2f client / curl, %.2f client / bare (medians)\n",
                curlMedian > 0 ? clientMedian / curlMedian : 0.0,
                median(bare) > 0 ? clientMedian / median(bare) : 0.0);
    return curlTimes.size() == client.size() ? 0 : 1;
}
