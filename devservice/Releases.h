#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace pinlark::devservice {

// The releases folder given with --releases: every "*.json" file in it is the update manifest
// of one release (an object with at least a string "version"); every other file is an archive,
// served under "releases/<file name>". The folder is read afresh at each request.
class Releases {
public:
    explicit Releases(QString folder = {});

    // The manifest with the highest dotted version, or none.
    std::optional<QJsonObject> newest() const;
    // The archive called `name` (a plain file name in the folder), or none.
    std::optional<QByteArray> archive(const QString& name) const;

    // Whether dotted version `a` is above `b`, piece by piece (missing or non-numeric pieces
    // count as 0).
    static bool isAbove(const QString& a, const QString& b);

private:
    QString m_folder;
};

} // namespace pinlark::devservice
