#pragma once

#include <QString>

class QWebEngineProfile;

namespace pinlark {

// The app's one persistent web profile, named after the bundle identifier: cookies, cache and
// storage kept under $XDG_DATA_HOME and $XDG_CACHE_HOME, session cookies kept across launches.
// The library window's web view uses it, and the standard cookie store's mirror joins its store
// as it is made. Created on first use, on the main thread, and never released. Made first, it
// sets the web view up for one window on one site that spends most of its time hidden: drawn
// through Qt Quick's software renderer, so neither the app nor the engine loads an OpenGL stack.
QWebEngineProfile* sharedWebProfile();

// The profile's folders: $XDG_DATA_HOME/<bundle identifier> and $XDG_CACHE_HOME/<bundle
// identifier>.
QString webDataFolder();
QString webCacheFolder();

} // namespace pinlark
