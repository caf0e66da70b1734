#pragma once

#include <QByteArray>
#include <QString>

namespace pinlark {

// What the desktop this copy runs on offers, answered in one place: which desktop it is, how
// the app reaches the display, which tray shows its icon, what takes its global shortcut and
// whether the desktop portal offers one. Each answer is asked afresh of the environment, Qt's
// windowing platform and the session bus; the menu bar, main() and `--doctor` ask here.
//
// On GNOME the tray is the shell's AppIndicator extension, which opens a StatusNotifierItem's
// menu on a single click but passes clicks on an icon docked into its X11 tray as they come. So
// on GNOME, Wayland too, the app asks for Qt's X11 platform (preferredPlatform()) and docks its
// icon itself (docksIconItself()). On GNOME Wayland that makes it an X11 client of the
// compositor (Display::X11OnWayland): Xwayland hears keys only while one of its windows has the
// focus, so no key grab (keyGrab() is KeyGrab::None), and the panel's "Set a shortcut…" offers
// a custom shortcut in GNOME's settings instead (GnomeHotKeyService); the panel opens as a
// window of its own under the icon, and the menu through a window that takes the keyboard
// first (TrayHost, StatusItem).
namespace Desktop {

// XDG_CURRENT_DESKTOP as the session sets it ("ubuntu:GNOME", "KDE", "sway"); empty when unset.
QString name();
// Whether the desktop is GNOME, which shows tray icons only through its AppIndicator extension.
bool isGnome();

enum class Display {
    None,         // no display
    X11,          // an X server alone
    Wayland,      // a Wayland client
    X11OnWayland, // an X11 client of a Wayland compositor, through Xwayland
};
// How the running app reaches the display, by its windowing platform and WAYLAND_DISPLAY.
Display display();
// How an app on Qt's windowing platform `platform` ("xcb", "wayland", …) reaches it.
Display displayFor(const QString& platform);
// Whether the running app is a Wayland client.
bool onWayland();
// Whether it is an X11 client of a Wayland compositor: its pop-ups can't take the keyboard from
// a Wayland window, and the app goes inactive, which closes them, as they open.
bool throughXwayland();

// The Qt platform to ask for when neither the user (QT_QPA_PLATFORM) nor anything else named
// one: "xcb" on GNOME where an X server is at hand, where the shell's tray is an X11 one; else
// none, and Qt chooses.
QByteArray preferredPlatform();

// Whether the icon docks into the X11 tray by itself rather than through Qt: an X11 client on
// GNOME, where the AppIndicator extension holds the X11 tray (on X11 and, for X11 clients, on
// Wayland through Xwayland), and on LXQt where its panel holds an X11 tray (its
// StatusNotifierItem host shows no icon of Qt's). Qt would choose the StatusNotifierItem wherever
// a host is registered.
bool docksIconItself();
// The session bus name of the StatusNotifierItem watcher, with which tray hosts register.
QString statusNotifierWatcher();
// Whether a StatusNotifierItem host has registered with the watcher, asked without Qt's tray
// classes: they ask once per process and keep the answer.
bool statusNotifierHostRunning();
// Whether an X11 tray manager holds the tray of the display's default screen, asked on the
// app's X connection (none outside X11).
bool x11TrayRunning();
// Whether the desktop has a tray that shows the running app's icon, as of now. On Wayland only
// a StatusNotifierItem host shows it, and Qt decides at the first icon it makes whether one
// runs, for the rest of the process; this asks without Qt there.
bool trayAvailable();

enum class Tray {
    None,
    GnomeShell,         // GNOME Shell's X11 tray (its AppIndicator extension)
    StatusNotifierItem, // a watcher of StatusNotifierItems on the session bus
    XEmbed,             // an X11 tray on an X server without Wayland
};
// The tray a copy started now would find, as `--doctor` tells it: `x11Tray` says whether an X11
// tray manager holds the X server's tray.
Tray trayFor(bool x11Tray);

enum class KeyGrab {
    X11,    // the key grab on the X server
    Portal, // the desktop portal's GlobalShortcuts
    None,   // neither: the desktop's own keyboard settings can run Pinlark's commands
};
// What takes the global shortcut of an app on Qt's windowing platform `platform`: the key grab
// on X11 (but on Cinnamon), the desktop portal for a Wayland client whose session bus offers
// it, else nothing.
KeyGrab keyGrab(const QString& platform);
// Why nothing takes it on `platform`, in a few words for the log and the doctor.
QString whyNoKeyGrab(const QString& platform);
// Whether the session bus has a desktop portal that offers global shortcuts. Waits for the
// portal's answer two seconds at most.
bool portalOffersShortcuts();

} // namespace Desktop

} // namespace pinlark
