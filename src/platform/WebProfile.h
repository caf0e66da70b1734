#pragma once

class QWebEngineProfile;

namespace pinlark {

// The app's one persistent web profile, named after the bundle identifier: cookies, cache and
// storage kept under $XDG_DATA_HOME and $XDG_CACHE_HOME, session cookies kept across launches.
// The library window's web view and the cookie store both use it. Created on first use, on the
// main thread, and never released.
QWebEngineProfile* sharedWebProfile();

} // namespace pinlark
