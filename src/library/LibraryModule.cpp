// The entry point of libPinlarkLibrary.so, which LibraryWindow loads the first time the library
// window is wanted.
#include "library/Dashboard.h"

extern "C" __attribute__((visibility("default"))) pinlark::LibraryWindow::Module
pinlark_library_module() {
    return pinlark::Dashboard::module();
}
