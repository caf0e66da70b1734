// pinlark-seal: seals and signs an application bundle.
//
//   pinlark-seal --key KEY.pem BUNDLE  writes BUNDLE/Contents/_CodeSignature/CodeResources and
//                                      signs it with the Ed25519 private key in KEY.pem
//                                      (CodeResources.sig beside it)
//   pinlark-seal BUNDLE                seals without signing, as for a bundle nested in another
//   pinlark-seal --check BUNDLE        exits 0 when the bundle is exactly as sealed and the seal is
//                                      signed with the key this build trusts
//
// Sealing is the last step of assembling a bundle: any file changed, added or removed after it
// breaks the seal. The updater installs only a bundle whose seal the publisher signed.

#include "PublisherKey.h"
#include "platform/linux/Seal.h"

#include <QString>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    using namespace pinlark;
    if (argc == 3 && std::strcmp(argv[1], "--check") == 0)
        return Seal::check(QString::fromLocal8Bit(argv[2]), true, Product::publisherKey) ? 0 : 1;
    const bool keyed = argc == 4 && std::strcmp(argv[1], "--key") == 0;
    if (!(keyed || argc == 2) || argv[argc - 1][0] == '-') {
        std::fputs("usage: pinlark-seal [--key KEY.pem] BUNDLE | pinlark-seal --check BUNDLE\n",
                   stderr);
        return 2;
    }
    const QString bundle = QString::fromLocal8Bit(argv[argc - 1]);
    QString error = Seal::write(bundle);
    if (error.isEmpty() && keyed)
        error = Seal::sign(bundle, QString::fromLocal8Bit(argv[2]));
    if (!error.isEmpty()) {
        std::fprintf(stderr, "pinlark-seal: %s\n", qPrintable(error));
        return 1;
    }
    return 0;
}
