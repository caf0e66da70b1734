// pinlark-seal: seals an application bundle.
//
//   pinlark-seal BUNDLE        writes BUNDLE/Contents/_CodeSignature/CodeResources
//   pinlark-seal --check BUNDLE  exits 0 when the bundle is exactly as sealed
//
// Sealing is the last step of assembling a bundle: any file changed, added or removed after it
// breaks the seal.

#include "platform/linux/Seal.h"

#include <QString>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    using namespace pinlark;
    if (argc == 3 && std::strcmp(argv[1], "--check") == 0)
        return Seal::check(QString::fromLocal8Bit(argv[2]), true) ? 0 : 1;
    if (argc != 2 || argv[1][0] == '-') {
        std::fputs("usage: pinlark-seal BUNDLE | pinlark-seal --check BUNDLE\n", stderr);
        return 2;
    }
    const QString error = Seal::write(QString::fromLocal8Bit(argv[1]));
    if (!error.isEmpty()) {
        std::fprintf(stderr, "pinlark-seal: %s\n", qPrintable(error));
        return 1;
    }
    return 0;
}
