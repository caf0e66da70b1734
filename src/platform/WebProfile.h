#pragma once

#include <QStringList>

class QWebEngineProfile;

namespace pinlark {

// The app's one persistent web profile, named after the bundle identifier: cookies, cache and
// storage kept under $XDG_DATA_HOME and $XDG_CACHE_HOME, session cookies kept across launches.
// The library window's web view and the cookie store both use it. Created on first use, on the
// main thread, and never released.
QWebEngineProfile* sharedWebProfile();

// The Chromium switches the app runs its web engine with: one window on one site, mostly
// hidden in the tray, so the engine is set up for a small, quiet footprint.
QStringList webEngineArguments();

// Adds webEngineArguments() to QTWEBENGINE_CHROMIUM_FLAGS, where the engine reads them when it
// starts (the app's own command line stays the user's). Call before the application object;
// switches already there are not added twice.
void passWebEngineArguments();

} // namespace pinlark
