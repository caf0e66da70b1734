// The executable of Pinlark.app, which links the C library alone: it loads the app,
// Contents/Frameworks/libPinlark.so beside its own folder, and runs it. Where a library the app
// links is not installed, the dynamic loader would end the start with its own list of missing
// files; the user hears instead which command installs what the app needs.

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self);
    if (length <= 0 || length == sizeof self) {
        std::perror("Pinlark: /proc/self/exe");
        return 1;
    }
    std::string module(self, std::size_t(length));
    module.resize(module.rfind('/'));
    module += "/../Frameworks/libPinlark.so";

    void* app = dlopen(module.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (!app) {
        const std::string error = dlerror();
        // "libQt6Svg.so.6: cannot open shared object file: …" names a library the module needs.
        const bool libraryMissing =
            access(module.c_str(), R_OK) == 0 &&
            error.find(": cannot open shared object file") != std::string::npos;
        if (libraryMissing)
            std::fprintf(stderr,
                         "Pinlark: a library it runs on is not installed (%s). On Debian, this "
                         "installs what it needs:\n  sudo apt-get install %s\n",
                         error.substr(0, error.find(':')).c_str(), PINLARK_DEBIAN_PACKAGES);
        else
            std::fprintf(stderr, "Pinlark: %s\n", error.c_str());
        return 1;
    }
    const auto run = reinterpret_cast<int (*)(int, char**)>(dlsym(app, "pinlark_main"));
    if (!run) {
        std::fprintf(stderr, "Pinlark: %s has no entry point: %s\n", module.c_str(), dlerror());
        return 1;
    }
    return run(argc, argv);
}
