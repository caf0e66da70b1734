#include "platform/linux/Seal.h"

#include "platform/AtomicFile.h"
#include "platform/PropertyList.h"
#include "platform/Sha256.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QVariantMap>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>
#include <optional>

#include <sys/stat.h>

namespace pinlark::Seal {

namespace {

constexpr qint64 signatureSize = 64;
// Larger files are no seal and no key of ours, and are refused unread.
constexpr qint64 maxSealSize = 8 * 1024 * 1024;
constexpr qint64 maxKeySize = 64 * 1024;

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

QString inBundle(const QString& bundlePath, const char* relative) {
    return bundlePath + QLatin1Char('/') + QLatin1String(relative);
}

// The bytes of the file at `path`; none when it can't be read or holds more than `limit`.
std::optional<QByteArray> readAtMost(const QString& path, qint64 limit) {
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.read(limit + 1);
    if (bytes.size() > limit || file.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes;
}

bool verify(const QByteArray& message, const QByteArray& signature, const PublicKey& publicKey) {
    if (signature.size() != signatureSize)
        return false;
    const Key key(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, publicKey.data(), publicKey.size()),
        EVP_PKEY_free);
    const DigestContext context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    // Ed25519 hashes the message itself: no digest is named.
    const bool valid =
        key && context &&
        EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
        EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                         size_t(signature.size()),
                         reinterpret_cast<const unsigned char*>(message.data()),
                         size_t(message.size())) == 1;
    // A refused signature leaves its reasons queued, where later OpenSSL calls would find them.
    ERR_clear_error();
    return valid;
}

struct Entry {
    QString relative;
    QString absolute;
};

// Every entry below `root` but folders, without following links.
QList<Entry> entries(const QString& root) {
    QList<Entry> list;
    QDirIterator it(QFileInfo(root).absoluteFilePath(),
                    QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    const QDir base(QFileInfo(root).absoluteFilePath());
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        if (info.isDir() && !info.isSymLink())
            continue;
        list.append({base.relativeFilePath(path), path});
    }
    return list;
}

// Whether `target`, a link's text at `relative` inside the bundle, stays inside it.
bool staysInside(const QString& relative, const QString& target) {
    if (target.isEmpty() || target.startsWith(QLatin1Char('/')))
        return false;
    const QString joined = QDir::cleanPath(QFileInfo(relative).path() + QLatin1Char('/') + target);
    return joined != QLatin1String("..") && !joined.startsWith(QLatin1String("../"));
}

QByteArray linkTarget(const QString& path) {
    QByteArray target(4096, Qt::Uninitialized);
    const ssize_t n = ::readlink(QFile::encodeName(path).constData(), target.data(), 4096);
    return n < 0 ? QByteArray() : target.left(n);
}

// Whether the bundle is exactly as `sealBytes`, its seal, says; nested seals are not signed.
bool matches(const QString& bundlePath, const QByteArray& sealBytes, bool nested) {
    const auto seal = parsePropertyList(sealBytes);
    if (!seal)
        return false;
    const QVariant filesValue = seal->toMap().value(QStringLiteral("files"));
    if (filesValue.typeId() != QMetaType::QVariantMap)
        return false;
    const QVariantMap files = filesValue.toMap();

    QStringList present;
    for (const Entry& e : entries(bundlePath)) {
        if (e.relative == QLatin1String(relativePath) || e.relative == QLatin1String(signaturePath))
            continue;
        if (!files.contains(e.relative))
            return false;
        present.append(e.relative);
    }
    if (present.size() != files.size())
        return false; // a sealed file is missing

    for (auto it = files.begin(); it != files.end(); ++it) {
        const QVariantMap sealed = it.value().toMap();
        const QString path = bundlePath + QLatin1Char('/') + it.key();
        struct stat st {};
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
            return false;
        if (sealed.contains(QStringLiteral("symlink"))) {
            const QString target = sealed.value(QStringLiteral("symlink")).toString();
            if (!S_ISLNK(st.st_mode) || QFile::decodeName(linkTarget(path)) != target ||
                !staysInside(it.key(), target))
                return false;
            continue;
        }
        if (!S_ISREG(st.st_mode) ||
            qint64(st.st_mode & 07777) != sealed.value(QStringLiteral("mode")).toLongLong())
            return false;
        const auto hash = Sha256::ofFile(path);
        if (!hash || QString::fromLatin1(*hash) != sealed.value(QStringLiteral("hash")).toString())
            return false;
    }

    if (nested) {
        for (const QString& sealFile : present) {
            if (!sealFile.endsWith(QLatin1Char('/') + QLatin1String(relativePath)))
                continue;
            const QString inner =
                bundlePath + QLatin1Char('/') + sealFile.chopped(int(qstrlen(relativePath)) + 1);
            const auto innerSeal = readAtMost(inBundle(inner, relativePath), maxSealSize);
            if (!innerSeal || !matches(inner, *innerSeal, true))
                return false;
        }
    }
    return true;
}

} // namespace

QString write(const QString& bundlePath) {
    const QString sealPath = inBundle(bundlePath, relativePath);
    QFile::remove(sealPath);
    QFile::remove(inBundle(bundlePath, signaturePath));
    QVariantMap files;
    for (const Entry& e : entries(bundlePath)) {
        struct stat st {};
        if (::lstat(QFile::encodeName(e.absolute).constData(), &st) != 0)
            return QStringLiteral("can't read %1").arg(e.absolute);
        if (S_ISLNK(st.st_mode)) {
            const QString target = QFile::decodeName(linkTarget(e.absolute));
            if (!staysInside(e.relative, target))
                return QStringLiteral("%1 links outside the bundle").arg(e.relative);
            files.insert(e.relative, QVariantMap{{QStringLiteral("symlink"), target}});
        } else if (S_ISREG(st.st_mode)) {
            const auto hash = Sha256::ofFile(e.absolute);
            if (!hash)
                return QStringLiteral("can't read %1").arg(e.absolute);
            files.insert(e.relative,
                         QVariantMap{{QStringLiteral("hash"), QString::fromLatin1(*hash)},
                                     {QStringLiteral("mode"), qint64(st.st_mode & 07777)}});
        } else {
            return QStringLiteral("%1 is not a file, folder or link").arg(e.relative);
        }
    }
    return writeFileAtomically(sealPath, xmlPropertyList({{QStringLiteral("files"), files}}),
                               QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                   QFileDevice::ReadGroup | QFileDevice::ReadOther);
}

QString sign(const QString& bundlePath, const QString& privateKeyPath) {
    std::optional<QByteArray> pem = readAtMost(privateKeyPath, maxKeySize);
    if (!pem)
        return QStringLiteral("can't read the key %1").arg(privateKeyPath);
    Key key(nullptr, EVP_PKEY_free);
    if (BIO* bio = BIO_new_mem_buf(pem->constData(), int(pem->size()))) {
        key.reset(PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr));
        BIO_free(bio);
    }
    pem->fill('\0');
    ERR_clear_error();
    if (!key || !EVP_PKEY_is_a(key.get(), "ED25519"))
        return QStringLiteral("%1 is not an Ed25519 private key").arg(privateKeyPath);

    const auto seal = readAtMost(inBundle(bundlePath, relativePath), maxSealSize);
    if (!seal)
        return QStringLiteral("%1 has no seal to sign").arg(bundlePath);
    QByteArray signature(signatureSize, Qt::Uninitialized);
    size_t length = size_t(signature.size());
    const DigestContext context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    const bool signedIt =
        context && EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
        EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                       reinterpret_cast<const unsigned char*>(seal->constData()),
                       size_t(seal->size())) == 1 &&
        length == size_t(signatureSize);
    ERR_clear_error();
    if (!signedIt)
        return QStringLiteral("signing the seal of %1 failed").arg(bundlePath);
    return writeFileAtomically(inBundle(bundlePath, signaturePath), signature,
                               QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                   QFileDevice::ReadGroup | QFileDevice::ReadOther);
}

bool exists(const QString& bundlePath) {
    const auto seal = readPropertyList(inBundle(bundlePath, relativePath));
    return seal &&
           seal->toMap().value(QStringLiteral("files")).typeId() == QMetaType::QVariantMap &&
           QFileInfo(inBundle(bundlePath, signaturePath)).isFile();
}

bool check(const QString& bundlePath, bool nested, const PublicKey& publicKey) {
    // The very bytes whose signature holds are the ones read for the digests.
    const auto seal = readAtMost(inBundle(bundlePath, relativePath), maxSealSize);
    const auto signature = readAtMost(inBundle(bundlePath, signaturePath), signatureSize);
    return seal && signature && verify(*seal, *signature, publicKey) &&
           matches(bundlePath, *seal, nested);
}

} // namespace pinlark::Seal
