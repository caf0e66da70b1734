#include "app/ViewActions.h"

#include "library/LibraryWindow.h"


namespace pinlark::ViewActions {

void reload() {
    LibraryWindow::reload();
}

void goHome() {
    LibraryWindow::load(LibraryWindow::homeURL());
}

void goBack() {
    LibraryWindow::back();
}

void goForward() {
    LibraryWindow::forward();
}

} // namespace pinlark::ViewActions
