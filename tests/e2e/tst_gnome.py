#!/usr/bin/python3
# The app end to end in GNOME Shell with the AppIndicator extension, headless, against the
# stand-in service, driven like a user: on X11 (Xvfb) and on Wayland (a virtual monitor, the app
# through Xwayland).
#   tests/e2e/tst_gnome.py BUILD_DIR x11|wayland [app-first]
#                                                      (screenshots: BUILD_DIR/screenshots/gnome-*/)
# The shell refuses to run as root: the session runs as a user made for the run, in a process
# group of its own, with a private system bus; the group, the user and its files go when the test
# ends, however it ends.

import hashlib
import json
import os
import shutil
import subprocess
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (Screenshot, Widgets, as_user, glyph_height, on_bus,  # noqa: E402
                     on_private_bus, panel_place, run, saved, screen_box, session_home,
                     signed_in_home, start, stop_all, until)

BUILD = os.path.abspath(sys.argv[1])
SESSION = sys.argv[2]
USER = "pinlark-gn-" + hashlib.sha1((BUILD + SESSION).encode()).hexdigest()[:8]
HOME = session_home(USER, BUILD)
# The user's copy, in a folder whose name needs quoting in a command line.
BUNDLE = HOME + "/My Apps/Pinlark.app"
APP = BUNDLE + "/Contents/MacOS/Pinlark"
SHOTS = f"{BUILD}/screenshots/gnome-{SESSION}"
WIDTH, HEIGHT = 1280, 800
INDICATORS = "ubuntu-appindicators@ubuntu.com"
# With "app-first", the app starts before the shell, as it does at login when it opens at login,
# and docks once the shell's tray comes.
APP_FIRST = sys.argv[3:] == ["app-first"]
# Lets the test reach the shell's Eval and Screenshot interfaces, which only answer in unsafe
# mode.
DRIVER = "pinlark-e2e@pinlark.test"
DRIVER_JS = """function init() {}
function enable() { global.context.unsafe_mode = true; }
function disable() {}
"""


def gdbus(dest, path, method, *args, check=True):
    return run("gdbus", "call", "--session", "--dest", dest, "--object-path", path, "--method",
               method, *args, check=check).stdout


def shell(js, check=True):
    """The value of `js` in the shell, read back as JSON; None where the shell does not answer
    and `check` is false."""
    answer = gdbus("org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell.Eval", js,
                   check=check)
    ok, _, value = answer.strip()[1:-1].partition(", ")
    if not check and ok != "true":
        return None
    assert ok == "true", answer
    value = value.strip()[1:-1].encode().decode("unicode_escape")
    return json.loads(value) if value else None


def start_gnome(start_app):
    """A private system bus, the settings a first login would have, then the shell; the app is
    started by `start_app` before the shell or once it is up."""
    system_bus = HOME + "/system_bus_socket"
    start("dbus-daemon", "--session", "--nofork", "--nopidfile",
          "--address=unix:path=" + system_bus, stderr=subprocess.DEVNULL)
    until("the system bus", lambda: os.path.exists(system_bus))
    os.environ.update(DBUS_SYSTEM_BUS_ADDRESS="unix:path=" + system_bus,
                      XDG_CURRENT_DESKTOP="GNOME", XDG_SESSION_TYPE=SESSION,
                      XDG_SESSION_DESKTOP="gnome", GNOME_SHELL_SESSION_MODE="user")
    if SESSION == "x11":
        read, write = os.pipe()
        start("Xvfb", "-displayfd", str(write), "-screen", "0", f"{WIDTH}x{HEIGHT}x24",
              "-nolisten", "tcp", pass_fds=(write,), stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as display:
            os.environ["DISPLAY"] = ":" + display.readline().strip()
        command = ["gnome-shell", "--x11", "--replace"]
    else:
        command = ["gnome-shell", "--wayland", "--headless", "--virtual-monitor",
                   f"{WIDTH}x{HEIGHT}", "--wayland-display=wl-pinlark-gnome"]
    # What gnome-session would do: services the bus starts (the settings' dconf among them) see
    # the session's variables.
    run("dbus-update-activation-environment", "--all")
    extension = f"{os.environ['XDG_DATA_HOME']}/gnome-shell/extensions/{DRIVER}"
    os.makedirs(extension)
    with open(extension + "/metadata.json", "w") as f:
        json.dump({"uuid": DRIVER, "name": "e2e", "description": "e2e",
                   "shell-version": ["43"]}, f)
    with open(extension + "/extension.js", "w") as f:
        f.write(DRIVER_JS)
    for key, value in (("enabled-extensions", f"['{INDICATORS}', '{DRIVER}']"),
                       ("disable-extension-version-validation", "true"),
                       ("welcome-dialog-last-shown-version", "'99'")):
        run("gsettings", "set", "org.gnome.shell", key, value)
    if APP_FIRST:
        start_app()
    start(*command, stderr=open(SHOTS + "/shell.log", "w"), stdout=subprocess.DEVNULL)
    until("the shell", lambda: on_bus("org.gnome.Shell"), timeout=60)
    until("the shell started", lambda: shell("Main.layoutManager._startingUp", False) is False,
          timeout=60)
    until("the extension's watcher", lambda: on_bus("org.kde.StatusNotifierWatcher"))
    if SESSION == "wayland":
        # Xwayland, which the shell has started, as a desktop session hands it on.
        os.environ.update(WAYLAND_DISPLAY="wl-pinlark-gnome",
                          DISPLAY=until("Xwayland", lambda: shell(
                              "imports.gi.GLib.getenv('DISPLAY')")),
                          XAUTHORITY=shell("imports.gi.GLib.getenv('XAUTHORITY')"))


def icon_box():
    """The app's icon in the top bar as (x, y, width, height), as the extension placed it."""
    for key, x, y, width, height in shell(
            "Object.entries(Main.panel.statusArea).filter(([k]) => k.startsWith('appindicator'))"
            ".map(([k, a]) => [k, ...a.get_transformed_position(), ...a.get_transformed_size()])"):
        if None not in (x, y, width, height) and width > 0:
            return round(x), round(y), round(width), round(height)
    return None


def screenshot(name):
    if SESSION == "x11":
        run("import", "-window", "root", f"{SHOTS}/{name}")
    else:
        gdbus("org.gnome.Shell.Screenshot", "/org/gnome/Shell/Screenshot",
              "org.gnome.Shell.Screenshot.Screenshot", "false", "false", f"{SHOTS}/{name}")
    return Screenshot(subprocess.run(["convert", f"{SHOTS}/{name}", "ppm:-"],
                                     capture_output=True, check=True).stdout)


# The shell's own pointer and keyboard for the test, driven through mutter's input path.
DEVICES = """const {Clutter, GLib} = imports.gi;
const seat = Clutter.get_default_backend().get_default_seat();
global.e2ePointer ??= seat.create_virtual_device(Clutter.InputDeviceType.POINTER_DEVICE);
global.e2eKeys ??= seat.create_virtual_device(Clutter.InputDeviceType.KEYBOARD_DEVICE);
"""


def click(x, y, button=1):
    if SESSION == "x11":
        run("xdotool", "mousemove", str(x), str(y), "click", str(button))
        return
    shell(DEVICES + f"global.e2ePointer.notify_absolute_motion(GLib.get_monotonic_time(), {x}, {y});"
          "for (const state of [Clutter.ButtonState.PRESSED, Clutter.ButtonState.RELEASED])"
          f" global.e2ePointer.notify_button(GLib.get_monotonic_time(), {button}, state);")


def press(*keys):
    """Presses `keys` together (X key names), as a user at the keyboard would."""
    if SESSION == "x11":
        run("xdotool", "key", "+".join(keys))
        return
    names = ", ".join("Clutter.KEY_" + key for key in keys)
    shell(DEVICES + f"const keys = [{names}];"
          "for (const k of keys) global.e2eKeys.notify_keyval(GLib.get_monotonic_time(), k,"
          " Clutter.KeyState.PRESSED);"
          "for (const k of keys.reverse()) global.e2eKeys.notify_keyval(GLib.get_monotonic_time(),"
          " k, Clutter.KeyState.RELEASED);")


LIBRARY_SHOWN = ("global.get_window_actors().some(a => "
                 "a.meta_window.get_title() === 'Saves — Pinlark' && a.visible)")


def copy(link):
    """Another app copies `link` and keeps offering it: a GTK window of the session's own kind
    (native on Wayland, where a client may set the clipboard only while it has the keyboard)."""
    script = ("import gi, sys\ngi.require_version('Gtk', '3.0')\n"
              "from gi.repository import Gtk, Gdk\n"
              "def copy(*_):\n"
              "    Gtk.Clipboard.get(Gdk.SELECTION_CLIPBOARD).set_text(sys.argv[1], -1)\n"
              "    print('copied', flush=True)\n"
              "w = Gtk.Window(title='Copier')\nw.connect('focus-in-event', copy)\n"
              "w.show_all()\nGtk.main()\n")
    backend = "wayland" if SESSION == "wayland" else "x11"
    if SESSION == "wayland":
        shell(DEVICES)  # a keyboard on the seat, so that a window can hold it
    copier = start("/usr/bin/python3", "-c", script, link, stdout=subprocess.PIPE, text=True,
                   env=dict(os.environ, GDK_BACKEND=backend))
    assert copier.stdout.readline().strip() == "copied"
    return copier


def app_windows():
    """The app's windows on the X server that are showing."""
    return set(run("xdotool", "search", "--onlyvisible", "--classname", "^Pinlark$",
                   check=False).stdout.split())


def larger_than_a_pixel(window):
    """Whether an X window is more than the one pixel that holds the keyboard for the menu."""
    size = run("xdotool", "getwindowgeometry", window, check=False).stdout.split()
    return bool(size) and size[-1] != "1x1"


def doctor_lines():
    lines = run(APP, "--doctor").stdout.splitlines()
    return {line[:15].strip(): line[16:] for line in lines}


def main():
    widgets = Widgets()
    shutil.rmtree(os.path.dirname(BUNDLE), ignore_errors=True)
    shutil.copytree(BUILD + "/Pinlark.app", BUNDLE, symlinks=True)
    origin = signed_in_home(BUILD, HOME + "/app")
    log = open(SHOTS + "/app.log", "w+")

    def start_app():
        # As a desktop starts it: the app picks its platform and keeps the engine's logging quiet.
        env = {k: v for k, v in os.environ.items() if k not in ("QT_QPA_PLATFORM",
                                                                "QT_LOGGING_RULES")}
        start(APP, stderr=log, env=env, app=True)
        until("the app", lambda: widgets.find("application", "Pinlark"))

    start_gnome(start_app)
    shell("Main.overview.hide()")
    until("the overview closed", lambda: shell("Main.overview.visible") is False)
    if not APP_FIRST:
        start_app()
    # Launching ends with the library window shown, after the tray icon.
    until("the library window", lambda: shell(LIBRARY_SHOWN))
    # The extension lays the icon out anew once the icon says how large it is; the glyph fills
    # most of its 16-pixel slot.
    until("the icon drawn", lambda: (box := icon_box()) and box[2] >= 16 and
          glyph_height(screenshot("bar.png"), box))
    box = icon_box()
    height = glyph_height(screenshot("bar.png"), box)
    print(f"icon at {box}, its glyph {height} px high")
    assert height >= 12, height

    # A link another app has just copied; one click on the icon opens the panel under the bar
    # beside the icon, with that link in the field and the keyboard there.
    link = "https://example.com/copied-on-gnome"
    copy(link)
    click(box[0] + box[2] // 2, box[1] + box[3] // 2)
    field = until("the panel", widgets.panel_field)
    x, y, width, _ = place = panel_place(field, widgets)
    print(f"panel at {(x, y)}, {width} px wide")
    assert box[3] <= y <= box[3] + 8 and x <= box[0] + box[2] // 2 <= x + width, (x, y, box)
    until("the copied link in the field", lambda: widgets.field_text() == link)
    screenshot("panel.png")
    press("Return")
    until("the save", lambda: saved(origin, link))

    # Escape closes the panel; the menu's "Quick Save…" opens it again in the same place, with
    # the keyboard in the field.
    press("Escape")
    until("the panel closed", lambda: not widgets.panel_field())
    shown = app_windows()
    menu_open = lambda: any(larger_than_a_pixel(w) for w in app_windows() - shown)
    click(box[0] + box[2] // 2, box[1] + box[3] // 2, button=3)
    # About one right click in ten, on a quiet machine too, opens no menu on either session
    # though the app got the shell's call and opened it; a second click opens it. Said, not
    # hidden.
    try:
        until("the menu", menu_open, timeout=5)
    except AssertionError:
        print("the first right click opened no menu; clicking again")
        click(box[0] + box[2] // 2, box[1] + box[3] // 2, button=3)
        until("the menu", menu_open)
    press("Down")  # the menu's first row takes the keyboard, and the menu shows on the bus
    row = until("the menu's row", lambda: widgets.find("menu item", "Quick Save…"))[0]
    row_x, row_y, row_width, row_height = screen_box(row, widgets)
    click(row_x + row_width // 2, row_y + row_height // 2)
    field = until("the panel again", widgets.panel_field)
    again = panel_place(field, widgets)
    assert again[:3] == place[:3], (again, place)  # the height follows what it lists
    until("the keyboard in the field",
          lambda: field.get_state_set().contains(widgets.Atspi.StateType.FOCUSED))
    screenshot("menu-panel.png")

    # What a desktop shortcut runs opens it in the same place too, over the window in front.
    press("Escape")
    until("the panel closed", lambda: not widgets.panel_field())
    click(110, 200)  # back to the other app
    until("the other app in front",
          lambda: shell("global.display.focus_window?.get_title() ?? null") == "Copier")
    run(APP, "--quick-save")
    field = until("the panel from the command line", widgets.panel_field)
    assert panel_place(field, widgets)[:3] == place[:3]
    until("the keyboard in the field from the command line",
          lambda: field.get_state_set().contains(widgets.Atspi.StateType.FOCUSED))
    screenshot("command-panel.png")
    log.seek(0)
    assert "qt.webenginecontext" not in log.read()

    # Where the app has no keys of its own, "Set a shortcut…" adds custom shortcuts with the
    # first free keys to GNOME's settings, once the user says yes: those keys then show or hide
    # the library, and the second pair saves the copied link without opening anything.
    media_keys = "org.gnome.settings-daemon.plugins.media-keys"
    custom = "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom%d/"
    doctor = doctor_lines()
    assert doctor["tray"].startswith("GNOME Shell's X11 tray"), doctor
    if SESSION == "x11":
        assert doctor["GNOME shortcuts"].startswith("none runs this Pinlark"), doctor
        return
    widgets.press("push button", "Set a shortcut…")
    until("the offer", lambda: widgets.find("push button", "Add Shortcuts"))
    screenshot("offer.png")
    widgets.press("push button", "Add Shortcuts")
    listed = f"['{custom % 0}', '{custom % 1}']\n"
    until("the shortcuts listed", lambda: run("gsettings", "get", media_keys,
                                              "custom-keybindings").stdout == listed)
    for i, argument, keys in ((0, "--toggle-library", "'<Super><Alt>l'"),
                              (1, "--save-clipboard", "'<Shift><Super>s'")):
        shortcut = f"{media_keys}.custom-keybinding:{custom % i}"
        assert run("gsettings", "get", shortcut, "command").stdout == f"\"'{APP}' {argument}\"\n"
        assert run("gsettings", "get", shortcut, "binding").stdout == keys + "\n"
    assert doctor_lines()["GNOME shortcuts"] == "Meta+Alt+L runs Pinlark --toggle-library"
    # GNOME's settings daemon runs custom shortcuts; the shell grabs their keys for it.
    start("/usr/libexec/gsd-media-keys", stderr=subprocess.DEVNULL)
    until("the daemon's keys grabbed",
          lambda: shell("Main.shellDBusService._grabbedAccelerators.size", False))
    gdbus("org.gnome.SettingsDaemon.MediaKeys", "/", "org.freedesktop.DBus.Peer.Ping")
    for shown in (False, True):
        press("Alt_L", "Super_L", "l")
        until("the library " + ("shown" if shown else "hidden"),
              lambda: shell(LIBRARY_SHOWN) == shown)
    another = "https://example.com/copied-then-saved-by-a-shortcut"
    copy(another)
    press("Shift_L", "Super_L", "s")
    until("the copied link saved by its shortcut", lambda: saved(origin, another))
    assert not widgets.panel_field()

if os.getuid() == 0:
    sys.exit(as_user(USER, HOME, SHOTS, 240, runtime=True))
on_private_bus()
try:
    main()
finally:
    stop_all()
