#!/usr/bin/python3
# The app end to end in the panel of an X11 desktop as people run it, headless (Xvfb), against
# the stand-in service, driven like a user: the icon in the panel's tray, the quick-save panel
# and the menu beside it, the library inside the work area, the global shortcut.
#   tests/e2e/tst_x11desktops.py BUILD_DIR xfce|mate|lxqt|cinnamon
#   (screenshots: BUILD_DIR/screenshots/x11-DESKTOP/)

import os
import shutil
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (Screenshot, Widgets, first_line, glyph_height, glyph_width,  # noqa: E402
                     on_bus, on_private_bus, panel_place, remove_home, run, saved, screen_box,
                     signed_in_home, start, start_xvfb, stop_all, stop_app, until, viewable)

BUILD = os.path.abspath(sys.argv[1])
DESKTOP = sys.argv[2]
HOME = os.environ.get("PINLARK_TEST_PLACE", BUILD) + "/testhome/x11-" + DESKTOP
APP = BUILD + "/Pinlark.app/Contents/MacOS/Pinlark"
SHOTS = f"{BUILD}/screenshots/x11-{DESKTOP}"
WIDTH, HEIGHT = 1280, 800

# Xfce's top panel as its first start makes it, of the plugins this needs: the menu, a spacer,
# the notification area (which hosts StatusNotifierItems and docked X11 icons alike), the clock.
XFCE_PANEL = """<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="icon-size" type="uint" value="16"/>
      <property name="size" type="uint" value="26"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
        <value type="int" value="2"/>
        <value type="int" value="3"/>
        <value type="int" value="4"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="applicationsmenu"/>
    <property name="plugin-2" type="string" value="separator">
      <property name="expand" type="bool" value="true"/>
      <property name="style" type="uint" value="0"/>
    </property>
    <property name="plugin-3" type="string" value="systray">
      <property name="square-icons" type="bool" value="true"/>
    </property>
    <property name="plugin-4" type="string" value="clock"/>
  </property>
</channel>
"""


def start_window_manager(*command, env=None):
    """Starts the window manager `command` and waits until it manages the screen (its check
    window named on the root), starting it again should it end before: openbox does at times,
    its first connection to the display failing."""
    for _ in range(3):
        manager = start(*command, stderr=subprocess.DEVNULL, env=env)
        until("the window manager", lambda: manager.poll() is not None or "window id" in run(
            "xprop", "-root", "_NET_SUPPORTING_WM_CHECK", check=False).stdout)
        if manager.poll() is None:
            return
    raise AssertionError(f"{command[0]} ended as it started, three times")


def start_xfce():
    """xfwm4, the settings daemon and the panel, reading their settings from the test's home."""
    channels = os.environ["XDG_CONFIG_HOME"] + "/xfce4/xfconf/xfce-perchannel-xml"
    os.makedirs(channels)
    with open(channels + "/xfce4-panel.xml", "w") as f:
        f.write(XFCE_PANEL)
    os.environ.update(XDG_CURRENT_DESKTOP="XFCE", XDG_SESSION_DESKTOP="xfce",
                      DESKTOP_SESSION="xfce", XDG_SESSION_TYPE="x11")
    # What the session manager would do: the settings store the bus starts sees the home.
    run("dbus-update-activation-environment", "--all")
    start_window_manager("xfwm4")
    start("xfsettingsd", stderr=subprocess.DEVNULL)
    start("xfce4-panel", stderr=open(SHOTS + "/panel.log", "w"))


# MATE's default layout without its bottom panel, the top one as high as Xfce's above: the menu
# bar, the notification area (StatusNotifierItems and docked X11 icons alike), the clock at the end.
MATE_LAYOUT = """[Toplevel top]
expand=true
orientation=top
size=26

[Object menu-bar]
object-type=menu-bar
toplevel-id=top
position=0
locked=true

[Object notification-area]
object-type=applet
applet-iid=NotificationAreaAppletFactory::NotificationArea
toplevel-id=top
position=10
relative-to-edge=end
locked=true

[Object clock]
object-type=applet
applet-iid=ClockAppletFactory::ClockApplet
toplevel-id=top
position=0
relative-to-edge=end
locked=true
"""


def start_mate():
    """marco and the panel, the panel laid out from a layout file in the test's home: a panel
    that finds no panels in its settings makes them from the file its settings name."""
    layout = os.environ["XDG_CONFIG_HOME"] + "/mate-panel/top.layout"
    os.makedirs(os.path.dirname(layout))
    with open(layout, "w") as f:
        f.write(MATE_LAYOUT)
    os.environ.update(XDG_CURRENT_DESKTOP="MATE", XDG_SESSION_DESKTOP="mate",
                      DESKTOP_SESSION="mate", XDG_SESSION_TYPE="x11")
    run("dbus-update-activation-environment", "--all")  # dconf keeps the settings in the home
    run("gsettings", "set", "org.mate.panel", "default-layout", layout)
    # Without GIO's services for remote files and drives, which the panel's Places menu starts
    # and which find nothing in a test's session: once the panel had started none of its applets
    # half a minute on.
    local = dict(os.environ, GIO_USE_VFS="local", GIO_USE_VOLUME_MONITOR="unix",
                 GVFS_REMOTE_VOLUME_MONITOR_IGNORE="1")
    start_window_manager("marco", env=local)
    start("mate-panel", stderr=open(SHOTS + "/panel.log", "w"), env=local)


# LXQt's panel as its first start makes it, of the plugins this needs, at the top: the menu, a
# spacer, the StatusNotifierItems' area, the X11 tray (which draws the icons docked in it itself).
# No clock: the tray is found by what the panel draws at its end.
LXQT_PANEL = """[General]
__userfile__=true
panels=panel1

[panel1]
plugins=mainmenu,spacer,statusnotifier,tray
position=Top
desktop=0
panelSize=26
iconSize=16
lineCount=1
width=100
width-percent=true

[mainmenu]
type=mainmenu

[spacer]
type=spacer
expandable=true

[statusnotifier]
alignment=Right
type=statusnotifier

[tray]
alignment=Right
type=tray
"""


def start_lxqt():
    """openbox and the panel, reading its settings from the test's home and, as the session
    does, its defaults from LXQt's shared folder."""
    os.makedirs(os.environ["XDG_CONFIG_HOME"] + "/lxqt")
    with open(os.environ["XDG_CONFIG_HOME"] + "/lxqt/panel.conf", "w") as f:
        f.write(LXQT_PANEL)
    os.environ.update(XDG_CURRENT_DESKTOP="LXQt", XDG_SESSION_DESKTOP="lxqt",
                      DESKTOP_SESSION="lxqt", XDG_SESSION_TYPE="x11",
                      XDG_CONFIG_DIRS="/etc/xdg:/usr/share")
    run("dbus-update-activation-environment", "--all")
    start_window_manager("openbox")
    start("lxqt-panel", stderr=open(SHOTS + "/panel.log", "w"))


def start_cinnamon():
    """The Cinnamon shell, which is its own window manager (muffin), and its panel in the default
    layout, drawn through Xvfb's GLX by Mesa's software renderer. Its applet for
    StatusNotifierItems (and XApp's status icons) starts XApp's watcher on the bus, which the app
    looks for as it starts."""
    os.environ.update(XDG_CURRENT_DESKTOP="X-Cinnamon", XDG_SESSION_DESKTOP="cinnamon",
                      DESKTOP_SESSION="cinnamon", XDG_SESSION_TYPE="x11")
    run("dbus-update-activation-environment", "--all")
    start_window_manager("cinnamon", "--replace")
    until("the StatusNotifierItem watcher", lambda: on_bus("org.kde.StatusNotifierWatcher"),
          timeout=30)


# The icons of Cinnamon's applet for StatusNotifierItems, as the shell lays them out: the box of
# those showing, or an empty one where the applet's box begins.
CINNAMON_TRAY = """(() => {
    const applet = imports.ui.appletManager
        .getRunningInstancesForUuid('xapp-status@cinnamon.org')[0];
    if (!applet) return null;
    const box = actor => {
        const [x, y] = actor.get_transformed_position(), [w, h] = actor.get_transformed_size();
        return [x, y, w, h].map(Math.round);
    };
    const icons = applet.actor.get_children()[0], [x, y, , h] = box(icons);
    const shown = icons.get_children().filter(icon => icon.visible && icon.mapped).map(box);
    if (!shown.length) return [x, y, 0, h];
    const left = Math.min(...shown.map(b => b[0]));
    return [left, y, Math.max(...shown.map(b => b[0] + b[2])) - left, h];
})()"""


def cinnamon_tray(widgets):
    """Cinnamon's tray as the shell itself tells where it has laid it out (its accessibles have
    no names to find it by)."""
    answer = run("gdbus", "call", "--session", "--dest", "org.Cinnamon", "--object-path",
                 "/org/Cinnamon", "--method", "org.Cinnamon.Eval", CINNAMON_TRAY, check=False)
    if not answer.stdout.startswith("(true, '["):
        return None
    return tuple(int(n) for n in answer.stdout.split("[")[1].split("]")[0].split(","))


def accessible_tray(widgets, panel):
    """The tray of the panel program `panel` as (x, y, width, height): the filler its accessible
    lists between the spacer and the clock, holding the icons."""
    from gi.repository import GLib

    def walk(node):
        if node.get_role_name() == "filler":
            yield node
        for child in (node.get_child_at_index(i) for i in range(node.get_child_count())):
            if child:
                yield from walk(child)
    desktop = widgets.Atspi.get_desktop(0)
    try:
        for app in (desktop.get_child_at_index(i) for i in range(desktop.get_child_count())):
            if app and app.get_name() == panel:
                for filler in walk(app):
                    box = screen_box(filler, widgets)
                    if box[2] > 0 and box[3] > 0:
                        return box
    except GLib.Error:
        pass  # the panel was laying itself out
    return None


def program_window(program):
    """The box of the first window showing, higher than a pixel, of the program (its class's
    instance) `program`, or None."""
    for window in run("xdotool", "search", "--onlyvisible", "--classname", f"^{program}$",
                      check=False).stdout.split():
        if (box := window_box(window)) and box[3] > 1:
            return box
    return None


def drawn_tray(program):
    """The tray as what the panel window of the program `program` draws at its end, right of its
    middle, over its background there: for a panel that paints the icons docked in it itself,
    which stay apart from it as X windows, as LXQt's does. Empty, it is no wider than nothing."""
    if not (bar := program_window(program)):
        return None
    x0, y0, width, height = bar
    shot = screenshot("tray-look.png")
    rows = [(y, shot.pixel(x0 + width // 2, y)) for y in range(y0, y0 + height)]
    drawn = [x for x in range(x0 + width // 2, x0 + width)
             if any(max(abs(a - b) for a, b in zip(shot.pixel(x, y), background)) > 64
                    for y, background in rows)]
    return (drawn[0], y0, drawn[-1] + 1 - drawn[0], height) if drawn else (x0 + width, y0, 0, height)


# How each desktop is started, and where its tray is found.
DESKTOPS = {"xfce": (start_xfce, lambda widgets: accessible_tray(widgets, "xfce4-panel")),
            # MATE's tray runs as a program of its own, and lists none of its insides on the
            # accessibility bus: its window is the tray.
            "mate": (start_mate, lambda widgets: program_window("notification-area-applet")),
            "lxqt": (start_lxqt, lambda widgets: drawn_tray("lxqt-panel")),
            "cinnamon": (start_cinnamon, cinnamon_tray)}


def screenshot(name):
    run("import", "-window", "root", f"{SHOTS}/{name}")
    return Screenshot(subprocess.run(["convert", f"{SHOTS}/{name}", "-depth", "8", "ppm:-"],
                                     capture_output=True, check=True).stdout)


def pixels(shot, box):
    x0, y0, w, h = box
    return [shot.pixel(x, y) for y in range(y0, y0 + h) for x in range(x0, x0 + w)]


def looks_like(these, those):
    """Whether two runs of pixels are the same picture, but for a few pixels at the edges."""
    return len(these) == len(those) and sum(
        max(abs(a - b) for a, b in zip(one, other)) > 64
        for one, other in zip(these, those)) <= len(these) // 50


def neighbour():
    """Another app's icon in the tray, as a network applet docks one: a GTK status icon; on
    Cinnamon, whose tray for docked icons is an applet apart, an XApp status icon, as Cinnamon's
    own apps show theirs."""
    if DESKTOP == "cinnamon":
        icon = ("gi.require_version('XApp', '1.0')\nfrom gi.repository import XApp, GLib\n"
                "icon = XApp.StatusIcon()\nicon.set_icon_name('network-wired')\n"
                "GLib.idle_add(lambda: print('shown', flush=True))\nGLib.MainLoop().run()\n")
    else:
        icon = ("gi.require_version('Gtk', '3.0')\nfrom gi.repository import Gtk, GLib\n"
                "icon = Gtk.StatusIcon.new_from_icon_name('network-wired')\n"
                "GLib.idle_add(lambda: print('shown', flush=True))\nGtk.main()\n")
    shown = start("/usr/bin/python3", "-c", "import gi\n" + icon, stdout=subprocess.PIPE,
                  env=dict(os.environ, GDK_BACKEND="x11"))
    assert first_line(shown, "the other app's icon") == "shown"


def copy(link):
    """Another app copies `link` and keeps offering it."""
    copier = start("xclip", "-selection", "clipboard", "-quiet", stdin=subprocess.PIPE,
                   stderr=subprocess.DEVNULL, text=True)
    copier.stdin.write(link)
    copier.stdin.close()
    until("the link copied", lambda: run("xclip", "-o", "-selection", "clipboard",
                                         check=False).stdout == link)


def click(x, y, button=1):
    run("xdotool", "mousemove", str(x), str(y), "click", str(button))


def shown_windows():
    """The X server's top-level windows that are showing, on the screen, and larger than a
    pixel, with their boxes (x, y, width, height). (GTK maps helper windows off the screen, at
    -100, -100.)"""
    found = {}
    for line in run("xwininfo", "-root", "-children", check=False).stdout.splitlines():
        fields = line.split()
        if not fields or not fields[0].startswith("0x") or not viewable(fields[0]):
            continue
        size, position = fields[-2:]
        width, height = map(int, size.split("+")[0].split("x"))
        x, y = map(int, position.lstrip("+").split("+"))
        if width > 1 and height > 1 and x + width > 0 and y + height > 0:
            found[fields[0]] = (x, y, width, height)
    return found


def windows_named(name):
    """The X windows showing with the title `name`."""
    return run("xdotool", "search", "--onlyvisible", "--name", f"^{name}$",
               check=False).stdout.split()


def window_box(window):
    """Where `window` is on the screen, as (x, y, width, height), or None when it has gone."""
    info = run("xwininfo", "-id", window, check=False).stdout
    value = {key: int(line.split(":")[1]) for line in info.splitlines()
             for key, label in (("x", "Absolute upper-left X"), ("y", "Absolute upper-left Y"),
                                ("w", "Width"), ("h", "Height")) if line.strip().startswith(label)}
    return (value["x"], value["y"], value["w"], value["h"]) if len(value) == 4 else None


def frame(window):
    """The box of `window` with its window manager's frame, as (x, y, width, height)."""
    x, y, width, height = window_box(window)
    extents = run("xprop", "-id", window, "_NET_FRAME_EXTENTS").stdout
    left, right, top, bottom = map(int, extents.split("=")[1].split(","))
    return x - left, y - top, width + left + right, height + top + bottom


def xdotool_keys(keys):
    """Qt's text of a shortcut ("Meta+Alt+L") as xdotool names it ("super+alt+l")."""
    names = {"Meta": "super", "Alt": "alt", "Ctrl": "ctrl", "Shift": "shift"}
    return "+".join(names.get(key, key.lower()) for key in keys.split("+"))


def main():
    start_desktop, tray = DESKTOPS[DESKTOP]
    shutil.rmtree(SHOTS, ignore_errors=True)
    os.makedirs(SHOTS)
    start_xvfb()
    widgets = Widgets()
    origin = signed_in_home(BUILD, HOME)
    start_desktop()
    empty = until("the panel's tray", lambda: tray(widgets), timeout=30)
    neighbour()

    def drawn():
        """The other icon's box and pixels, once two looks at the tray agree."""
        if not (box := tray(widgets)) or box[2] <= empty[2]:
            return None
        first = pixels(screenshot("tray-before.png"), box)
        shot = screenshot("tray-before.png")
        if tray(widgets) == box and pixels(shot, box) == first:
            return glyph_height(shot, box) and (box, first)
    alone, before = until("the other app's icon drawn", drawn)

    # As a desktop starts it: the app picks its platform and keeps the engine's logging quiet.
    env = {k: v for k, v in os.environ.items() if k not in ("QT_QPA_PLATFORM", "QT_LOGGING_RULES")}
    app = start(APP, stderr=open(SHOTS + "/app.log", "w"), env=env, app=True)
    until("the app", lambda: widgets.find("application", "Pinlark"))
    # A link another app copies now: before the icon is looked for, as Plasma's tray shows its
    # clipboard's icon beside the others once there is something to show.
    link = f"https://example.com/copied-on-{DESKTOP}"
    copy(link)

    # The tray adds the icon before or after the other one, which looks as it did once the tray
    # has laid out and drawn both; and draws the icon anew, at its size, once it finds the icon's
    # name in the theme, where the app puts it as it starts: until then some trays draw it smaller,
    # Cinnamon's its missing-icon picture (18 rows, at the size of full-colour icons, and wider
    # than tall, as the bookmark is not). Cinnamon draws the icon by its name at 16 pixels, where
    # on its grey bar the glyph's dark outline is too near the bar's colour to count (its fill
    # alone is 11 rows of the 14 drawn), or, when it takes the picture alone, at the 24 pixels of
    # a full-colour icon.
    least, most = (11, 22) if DESKTOP == "cinnamon" else (12, HEIGHT)

    def glyph_shaped(shot, icon):
        height = glyph_height(shot, icon)
        return least <= height <= most and glyph_width(shot, icon) < height

    def placed():
        if not (both := tray(widgets)) or both[2] <= alone[2]:
            return None
        x, y, width, height = both
        added = width - alone[2]
        shot = screenshot("tray.png")
        for icon, other in (((x + alone[2], y, added, height), (x, y, alone[2], height)),
                            ((x, y, added, height), (x + added, y, alone[2], height))):
            if looks_like(pixels(shot, other), before) and glyph_shaped(shot, icon):
                return icon, other, shot
    icon, other, shot = until("the icon drawn at its size beside the other one", placed)
    print(f"icon at {icon}, its glyph {glyph_height(shot, icon)} px high; the other app's at "
          f"{other}, {glyph_height(shot, other)} px high")
    centre = icon[0] + icon[2] // 2, icon[1] + icon[3] // 2
    at_top = centre[1] < HEIGHT // 2

    # One click on the icon opens the panel below it (above it, in a bar at the screen's bottom),
    # its side under the icon, inside the screen, with the link copied in the field.
    click(*centre)
    field = until("the panel", widgets.panel_field)
    # Until Qt has the window's place, its accessibles stand at a tiny box off the screen.
    place = until("the panel placed", lambda: (p := panel_place(field, widgets))[2] > 10 and p)
    px, py, pw, ph = place
    print(f"panel at {place} against the icon at {icon}")
    if at_top:
        assert icon[1] + icon[3] <= py <= icon[1] + icon[3] + 16, (place, icon)
    else:
        assert icon[1] - 16 <= py + ph <= icon[1], (place, icon)
    assert px <= centre[0] <= px + pw, (place, icon)
    assert px >= 0 and py >= 0 and px + pw <= WIDTH and py + ph <= HEIGHT, place
    until("the copied link in the field", lambda: widgets.field_text() == link)
    keys = widgets.find("push button", "Open library")[0].get_description()
    screenshot("panel.png")
    run("xdotool", "key", "Return")
    until("the save", lambda: saved(origin, link))
    run("xdotool", "key", "Escape")  # closes it
    until("the panel closed", lambda: not widgets.panel_field())

    # A right click opens the menu next to the icon, below it or above.
    shown = shown_windows()
    click(*centre, button=3)
    menu = until("the menu", lambda: next(iter(
        box for window, box in shown_windows().items() if window not in shown), None))
    print(f"menu at {menu} against the icon at {icon}")
    screenshot("menu.png")
    # A menu the panel draws itself (a StatusNotifierItem's) has its shadow in its window.
    if at_top:
        assert icon[1] + icon[3] - 8 <= menu[1] <= icon[1] + icon[3] + 16, (menu, icon)
    else:
        assert icon[1] - 16 <= menu[1] + menu[3] <= icon[1] + 8, (menu, icon)
    assert menu[0] <= centre[0] <= menu[0] + menu[2], (menu, icon)
    run("xdotool", "key", "Escape")
    until("the menu closed", lambda: menu not in shown_windows().values())

    # The library, as starting the app again shows it, lies inside the work area: off the panel,
    # its title bar on the screen.
    run(APP, env=env)
    library = until("the library", lambda: windows_named("Saves — Pinlark"))[0]
    area = tuple(map(int, run("xprop", "-root", "_NET_WORKAREA").stdout.split("=")[1]
                     .split(",")[:4]))
    box = until("the library placed", lambda: (box := frame(library)) and box[1] >= 0 and box)
    screenshot("library.png")
    print(f"library's frame at {box} in the work area {area}")
    assert area[0] <= box[0] and area[1] <= box[1], (box, area)
    assert box[0] + box[2] <= area[0] + area[2] and box[1] + box[3] <= area[1] + area[3], (box, area)

    # The keys the panel's footer names hide the library and show it again. Cinnamon keeps keys
    # pressed with Super to itself: there the app claims no keys, and says why.
    doctor = run(APP, "--doctor", env=env).stdout
    shortcut = next(line for line in doctor.splitlines() if line.startswith("shortcut"))
    print(f"footer names {keys!r}; {shortcut}")
    if DESKTOP == "cinnamon":
        assert not keys and "none (Cinnamon keeps the keys pressed with Super" in shortcut, (
            keys, shortcut)
    else:
        assert keys and shortcut.endswith(keys + " registered"), (keys, shortcut)
        run("xdotool", "key", xdotool_keys(keys))
        until("the library hidden", lambda: not viewable(library))
        screenshot("library-hidden.png")
        run("xdotool", "key", xdotool_keys(keys))
        until("the library shown", lambda: viewable(library))

    # Ended as a logout does, then started by a shortcut's command: the panel opens with the
    # keyboard and keeps both while the app starts; the library, shown last, waits until the panel
    # has closed, then comes up without taking the keyboard. (Found by their X windows: a Qt
    # program that has made its accessibles before it reached the accessibility bus stays off it.)
    stop_app(app)
    start(APP, "--quick-save", stderr=open(SHOTS + "/app-again.log", "w"), env=env, app=True)
    panel = until("the panel", lambda: windows_named("Quick Save"))[0]
    time.sleep(1.5)  # long enough for the library window to have come, had it not waited
    screenshot("started.png")
    assert viewable(panel) and not windows_named("Saves — Pinlark"), "the panel closed"
    run("xdotool", "key", "Escape")  # which only a panel that has the keyboard hears
    until("the panel closed", lambda: not viewable(panel))
    library = until("the library", lambda: windows_named("Saves — Pinlark"))[0]
    active = run("xprop", "-root", "_NET_ACTIVE_WINDOW").stdout.split()[-1]
    screenshot("library-after-panel.png")
    assert int(active, 16) != int(library, 16), "the library took the keyboard after the panel"


on_private_bus()
try:
    main()
except BaseException:
    run("import", "-window", "root", f"{SHOTS}/failed.png", check=False)
    raise
finally:
    stop_all()
    remove_home(HOME)
