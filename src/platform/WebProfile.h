#pragma once

#include <QString>

#include <functional>

class QWebEngineProfile;

namespace pinlark {

// The app's one persistent web profile, named after the bundle identifier: cookies, cache and
// storage kept under $XDG_DATA_HOME and $XDG_CACHE_HOME, session cookies kept across launches.
// The library window's web view and the cookie store both use it. Created on first use, on the
// main thread, and never released.
QWebEngineProfile* sharedWebProfile();
// Calls `created` with the shared profile once it exists: at once when it does already.
void afterWebProfileCreated(std::function<void(QWebEngineProfile*)> created);

// The profile's folders: $XDG_DATA_HOME/<bundle identifier> and $XDG_CACHE_HOME/<bundle
// identifier>.
QString webDataFolder();
QString webCacheFolder();

// Sets the web engine up for one window on one site that spends most of its time hidden: the
// web view draws through Qt Quick's software renderer, so neither the app nor the engine loads
// an OpenGL stack. Call before the application object.
void prepareWebEngine();

} // namespace pinlark
