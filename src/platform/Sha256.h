#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

namespace pinlark {

// SHA-256, streamed: feed bytes as they come, then take the digest once.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(const char* bytes, qsizetype size);
    void update(const QByteArray& bytes) { update(bytes.constData(), bytes.size()); }
    // The 32 bytes of the digest as 64 lowercase hexadecimal digits.
    QByteArray hexDigest();

    // The digest of the file at `path`, read in blocks; none when it can't be read.
    static std::optional<QByteArray> ofFile(const QString& path);

private:
    struct Context;
    std::unique_ptr<Context> m_context;
};

} // namespace pinlark
