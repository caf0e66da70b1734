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
    QString relative; // "." for the bundle itself
    QString absolute;
    bool folder;
};

// The bundle and every entry below it, without following links.
QList<Entry> entries(const QString& root) {
    const QString top = QFileInfo(root).absoluteFilePath();
    QList<Entry> list{{QStringLiteral("."), top, true}};
    QDirIterator it(top, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    const QDir base(top);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        list.append({base.relativeFilePath(path), path, info.isDir() && !info.isSymLink()});
    }
    return list;
}

// Only the owner may write, and nothing runs as another user or group.
bool isSafeMode(mode_t mode) {
    return (mode & ~mode_t(0755)) == 0;
}

QByteArray linkTarget(const QString& path) {
    QByteArray target(4096, Qt::Uninitialized);
    const ssize_t n = ::readlink(QFile::encodeName(path).constData(), target.data(), 4096);
    return n < 0 ? QByteArray() : target.left(n);
}

// Whether the link at `relative` inside the bundle at `root` leads to an entry of the bundle, as
// the system resolves it: the bundle's own links on the way are followed, and no step may climb
// above the bundle's top. A link to nothing, absolute, or in a loop does not.
bool resolvesInside(const QString& root, const QString& relative) {
    QStringList at = relative.split(QLatin1Char('/'));
    at.removeLast();
    const QString first = QFile::decodeName(linkTarget(root + QLatin1Char('/') + relative));
    if (first.isEmpty() || first.startsWith(QLatin1Char('/')))
        return false;
    QStringList pending = first.split(QLatin1Char('/'));
    for (int links = 1; !pending.isEmpty();) {
        const QString step = pending.takeFirst();
        if (step.isEmpty() || step == QLatin1String("."))
            continue;
        if (step == QLatin1String("..")) {
            if (at.isEmpty())
                return false;
            at.removeLast();
            continue;
        }
        at.append(step);
        const QString path = root + QLatin1Char('/') + at.join(QLatin1Char('/'));
        struct stat st {};
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
            return false;
        if (S_ISLNK(st.st_mode)) {
            const QString target = QFile::decodeName(linkTarget(path));
            if (++links > 40 || target.isEmpty() || target.startsWith(QLatin1Char('/')))
                return false;
            at.removeLast();
            pending = target.split(QLatin1Char('/')) + pending;
        } else if (!S_ISDIR(st.st_mode) && !pending.isEmpty()) {
            return false;
        }
    }
    return true;
}

// Whether the bundle is exactly as `sealBytes`, its seal, says; nested seals are not signed.
bool matches(const QString& bundlePath, const QByteArray& sealBytes, bool nested) {
    const auto seal = parsePropertyList(sealBytes);
    if (!seal)
        return false;
    const QVariant filesValue = seal->toMap().value(QStringLiteral("files"));
    const QVariant foldersValue = seal->toMap().value(QStringLiteral("folders"));
    if (filesValue.typeId() != QMetaType::QVariantMap ||
        foldersValue.typeId() != QMetaType::QVariantMap)
        return false;
    const QVariantMap files = filesValue.toMap();
    const QVariantMap folders = foldersValue.toMap();

    QStringList present;
    qsizetype presentFolders = 0;
    for (const Entry& e : entries(bundlePath)) {
        if (e.relative == QLatin1String(relativePath) || e.relative == QLatin1String(signaturePath))
            continue;
        if (!(e.folder ? folders : files).contains(e.relative))
            return false;
        if (e.folder)
            ++presentFolders;
        else
            present.append(e.relative);
    }
    if (present.size() != files.size() || presentFolders != folders.size())
        return false; // a sealed entry is missing

    const auto modeIs = [](const struct stat& st, const QVariantMap& sealed) {
        return isSafeMode(st.st_mode & 07777) &&
               qint64(st.st_mode & 07777) == sealed.value(QStringLiteral("mode")).toLongLong();
    };
    for (auto it = folders.begin(); it != folders.end(); ++it) {
        struct stat st {};
        if (::lstat(QFile::encodeName(bundlePath + QLatin1Char('/') + it.key()).constData(), &st) !=
                0 ||
            !S_ISDIR(st.st_mode) || !modeIs(st, it.value().toMap()))
            return false;
    }
    QStringList links;
    for (auto it = files.begin(); it != files.end(); ++it) {
        const QVariantMap sealed = it.value().toMap();
        const QString path = bundlePath + QLatin1Char('/') + it.key();
        struct stat st {};
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
            return false;
        if (sealed.contains(QStringLiteral("symlink"))) {
            if (!S_ISLNK(st.st_mode) ||
                QFile::decodeName(linkTarget(path)) != sealed.value(QStringLiteral("symlink")))
                return false;
            links.append(it.key());
            continue;
        }
        if (!S_ISREG(st.st_mode) || !modeIs(st, sealed))
            return false;
        const auto hash = Sha256::ofFile(path);
        if (!hash || QString::fromLatin1(*hash) != sealed.value(QStringLiteral("hash")).toString())
            return false;
    }
    // Where a link leads depends on the other links: only once every one is as sealed.
    for (const QString& link : links)
        if (!resolvesInside(bundlePath, link))
            return false;

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
    // The seal's folder is sealed too, so it is there before the bundle is read.
    const QString sealFolder = QFileInfo(sealPath).path();
    if (!QFileInfo(sealFolder).isDir() &&
        !QDir().mkdir(sealFolder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                      QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                      QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                      QFileDevice::ExeOther))
        return QStringLiteral("can't make %1").arg(sealFolder);
    QVariantMap files;
    QVariantMap folders;
    for (const Entry& e : entries(bundlePath)) {
        struct stat st {};
        if (::lstat(QFile::encodeName(e.absolute).constData(), &st) != 0)
            return QStringLiteral("can't read %1").arg(e.absolute);
        const mode_t mode = st.st_mode & 07777;
        if (!S_ISLNK(st.st_mode) && !isSafeMode(mode))
            return QStringLiteral("%1 has mode %2: only its owner may write it, and it may not "
                                  "run as another user or group")
                .arg(e.relative, QString::number(mode, 8).rightJustified(4, QLatin1Char('0')));
        if (S_ISLNK(st.st_mode)) {
            if (!resolvesInside(bundlePath, e.relative))
                return QStringLiteral("%1 links outside the bundle").arg(e.relative);
            files.insert(e.relative, QVariantMap{{QStringLiteral("symlink"),
                                                  QFile::decodeName(linkTarget(e.absolute))}});
        } else if (S_ISDIR(st.st_mode)) {
            folders.insert(e.relative, QVariantMap{{QStringLiteral("mode"), qint64(mode)}});
        } else if (S_ISREG(st.st_mode)) {
            const auto hash = Sha256::ofFile(e.absolute);
            if (!hash)
                return QStringLiteral("can't read %1").arg(e.absolute);
            files.insert(e.relative,
                         QVariantMap{{QStringLiteral("hash"), QString::fromLatin1(*hash)},
                                     {QStringLiteral("mode"), qint64(mode)}});
        } else {
            return QStringLiteral("%1 is not a file, folder or link").arg(e.relative);
        }
    }
    return writeFileAtomically(
        sealPath,
        xmlPropertyList({{QStringLiteral("files"), files}, {QStringLiteral("folders"), folders}}),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
            QFileDevice::ReadOther);
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
