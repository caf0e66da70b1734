#include "platform/Sha256.h"

#include <QFile>

#include <openssl/evp.h>

namespace pinlark {

struct Sha256::Context {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    ~Context() { EVP_MD_CTX_free(ctx); }
};

Sha256::Sha256()
    : m_context(std::make_unique<Context>()) {
    if (!m_context->ctx || EVP_DigestInit_ex(m_context->ctx, EVP_sha256(), nullptr) != 1)
        qFatal("SHA-256 is not available");
}

Sha256::~Sha256() = default;

void Sha256::update(const char* bytes, qsizetype size) {
    EVP_DigestUpdate(m_context->ctx, bytes, size_t(size));
}

QByteArray Sha256::hexDigest() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(m_context->ctx, digest, &length);
    return QByteArray(reinterpret_cast<const char*>(digest), int(length)).toHex();
}

std::optional<QByteArray> Sha256::ofFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    Sha256 hash;
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 n = file.read(block.data(), block.size());
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break;
        hash.update(block.constData(), n);
    }
    return hash.hexDigest();
}

} // namespace pinlark
