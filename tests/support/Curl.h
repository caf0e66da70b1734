#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QStringList>

namespace pinlark {

// One exchange made by curl, a client nobody here wrote.
struct CurlAnswer {
    int status = 0;
    QMap<QString, QString> headers; // lower-cased names
    QByteArray body;

    QJsonObject json() const;
    QString error() const;
};

// Runs `curl -sS -i --http1.1 arguments`, feeding it `input`, with the event loop turning (the
// peer may be served on this thread).
CurlAnswer curl(const QStringList& arguments, const QByteArray& input = {});

} // namespace pinlark
