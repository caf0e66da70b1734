// The entry point of libPinlarkLibrary.so, which LibraryWindow loads the first time the library
// window is wanted.
#include "library/Dashboard.h"

extern "C" __attribute__((visibility("default"))) const pinlark::LibraryWindow::Module*
pinlark_library_module() {
    static const pinlark::LibraryWindow::Module module = pinlark::Dashboard::module();
    return &module;
}
