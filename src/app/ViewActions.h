#pragma once

namespace pinlark {

// The View menu's commands. Each acts on the library window's web view, creating the window's
// controller first when it does not exist yet; none of them brings the window forward.
namespace ViewActions {

// Reloads the page from the service, bypassing caches.
void reload();
// Loads the library's home page (the origin with "saves" appended).
void goHome();
void goBack();
void goForward();

} // namespace ViewActions

} // namespace pinlark
