#pragma once

#include <QString>

#include <array>

namespace pinlark {

// The seal of a bundle, "Contents/_CodeSignature/CodeResources": an XML property list whose
// "files" dictionary names every file of the bundle by its path inside the bundle, with its
// SHA-256 ("hash") and permission bits ("mode"), or, for a symbolic link, its target
// ("symlink"), and whose "folders" dictionary names every folder, the bundle itself as ".", with
// its permission bits ("mode"). Nested bundles carry seals of their own, which the outer seal
// covers as files. Modes that let group or others write, or set-id bits, are never sealed.
//
// Apps that read only "files" accept a seal that also lists folders; a seal without "folders"
// (made before folders were sealed) is not accepted: it leaves a bundle's folders open.
//
// The publisher signs the seal: "CodeResources.sig" beside it holds the 64 bytes of an Ed25519
// signature of the seal file's bytes. Only the outermost seal needs one; the seal lists neither
// itself nor the signature.
namespace Seal {

// The seal's and its signature's paths inside a bundle.
inline constexpr char relativePath[] = "Contents/_CodeSignature/CodeResources";
inline constexpr char signaturePath[] = "Contents/_CodeSignature/CodeResources.sig";

// An Ed25519 public key, raw.
using PublicKey = std::array<unsigned char, 32>;

// Seals the bundle at `bundlePath`, replacing an earlier seal and dropping its signature. Gives
// an error description, or an empty string. A symbolic link that resolves outside the bundle or to
// nothing in it, a mode that lets group or others write or has set-id bits, or a file that is
// neither a regular file, a folder nor a link, is refused.
QString write(const QString& bundlePath);

// Signs the bundle's seal with the Ed25519 private key in the PEM file at `privateKeyPath`.
// Gives an error description, or an empty string.
QString sign(const QString& bundlePath, const QString& privateKeyPath);

// Whether the bundle has a seal that can be read and a signature beside it.
bool exists(const QString& bundlePath);

// Whether the bundle's seal is signed with the private key of `publicKey` and the bundle is
// exactly as sealed: every sealed file present with its digest and mode, every sealed folder with
// its mode, every sealed link with its target and resolving inside the bundle (following the
// bundle's links, never above its top), nothing else besides the seal and its signature. The
// signature is checked first; nothing the seal says counts before. With `nested`, every bundle
// inside that carries a seal is checked the same way but for a signature: the outer seal covers
// the inner seal's bytes.
bool check(const QString& bundlePath, bool nested, const PublicKey& publicKey);

} // namespace Seal

} // namespace pinlark
