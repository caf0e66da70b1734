#pragma once

namespace pinlark::Doctor {

// `Pinlark --doctor`: prints, a line each, what this desktop gives the app and what is missing,
// with what to install or set for each missing piece: the display server, the tray, the global
// shortcut (as the running copy holds it), notifications, the login item, the service's origin
// and whether it answers, the session, the updater's blocker and the app's folders. Starts no
// user interface, so it works without a display. Exit status 0.
int run(int argc, char** argv);

} // namespace pinlark::Doctor
