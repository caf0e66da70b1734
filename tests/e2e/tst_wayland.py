#!/usr/bin/python3
# The app end to end on Wayland against the stand-in service, driven like a user: in sway, whose
# swaybar is a StatusNotifierItem tray on a black bar, in weston, which shows no tray, and in
# KDE's kwin, whose desktop portal binds the global shortcut.
#   tests/e2e/tst_wayland.py BUILD_DIR sway|weston|kde
#   (screenshots: BUILD_DIR/screenshots/DESKTOP/)
# sway refuses to run as root: then the session runs as a user made for the run, in a process
# group of its own; the group, the user and its files go when the test ends, however it ends.

import glob
import hashlib
import json
import os
import pwd
import re
import shutil
import signal
import subprocess
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (Screenshot, Widgets, as_user, on_bus, on_private_bus,  # noqa: E402
                     own_environment, processes, processes_of, run, saved, session_home,
                     signed_in_home, start, stop_all, stop_app, until)

BUILD = os.path.abspath(sys.argv[1])
DESKTOP = sys.argv[2]
APP = BUILD + "/Pinlark.app/Contents/MacOS/Pinlark"
# One user per build tree: runs from two trees at once keep out of each other's way.
USER = "pinlark-e2e-" + hashlib.sha1(BUILD.encode()).hexdigest()[:8]
HOME = session_home(USER, BUILD)
SHOTS = f"{BUILD}/screenshots/{DESKTOP}"
BAR = 28  # swaybar's height, set below
META_ALT_L = 0x1800004C  # as Qt and kglobalaccel write the keys


def grim(name=None, box=None):
    """A screenshot of the whole output (or `box`), saved as `name` when given."""
    where = ["-g", "{},{} {}x{}".format(*box)] if box else []
    if name:
        run("grim", *where, f"{SHOTS}/{name}")
    return Screenshot(subprocess.run(["grim", "-t", "ppm", "-"], capture_output=True,
                                     check=True).stdout)


def sway_views():
    def walk(node):
        if node.get("pid"):
            yield node
        for child in node.get("nodes", []) + node.get("floating_nodes", []):
            yield from walk(child)
    return list(walk(json.loads(run("swaymsg", "-t", "get_tree", "-r").stdout)))


def panel():
    return next((v for v in sway_views() if v.get("name") == "Quick Save" and v["visible"]), None)


def registered_items():
    """The items swaybar shows, as "service/path"."""
    return run("gdbus", "call", "--session", "--dest", "org.kde.StatusNotifierWatcher",
               "--object-path", "/StatusNotifierWatcher", "--method",
               "org.freedesktop.DBus.Properties.Get", "org.kde.StatusNotifierWatcher",
               "RegisteredStatusNotifierItems", check=False).stdout.split("'")[1::2]


def activate_item():
    """What swaybar does on a click: the item's Activate over the session bus."""
    service, path = registered_items()[0].split("/", 1)
    run("gdbus", "call", "--session", "--dest", service, "--object-path", "/" + path,
        "--method", "org.kde.StatusNotifierItem.Activate", "0", "0")


def start_sway():
    # The bar, and the tray host in it, waits until the test lets it start: at login an app
    # that opens at login may well come up before the desktop's tray.
    config, bar, display = HOME + "/sway.conf", HOME + "/swaybar", HOME + "/display"
    for left in (HOME + "/bar-go", display):  # by an earlier run, as a user of one's own
        if os.path.exists(left):
            os.remove(left)
    with open(bar, "w") as f:
        f.write(f"#!/bin/sh\nuntil [ -e {HOME}/bar-go ]; do sleep 0.1; done\nexec swaybar \"$@\"\n")
    os.chmod(bar, 0o755)
    with open(config, "w") as f:
        f.write("output * resolution 1280x800\n"
                f"bar {{\n swaybar_command {bar}\n position top\n height {BAR}\n"
                " workspace_buttons no\n"
                " colors {\n  background #000000\n }\n}\n"
                f"exec sh -c 'echo $WAYLAND_DISPLAY $SWAYSOCK > {display}.new && "
                f"mv {display}.new {display}'\n")
    start("sway", "-c", config, env=dict(os.environ, WLR_BACKENDS="headless",
                                          WLR_LIBINPUT_NO_DEVICES="1", WLR_RENDERER="pixman"),
          stderr=subprocess.DEVNULL)
    until("sway", lambda: os.path.exists(display))
    with open(display) as names:
        os.environ["WAYLAND_DISPLAY"], os.environ["SWAYSOCK"] = names.read().split()
    # The seat's keyboard, for as long as the test runs: a seat without one has no keyboard focus.
    start("wtype", "-s", "600000")


def in_sway(widgets, origin, log):
    until("the library window", lambda: any(v["name"] == "Saves — Pinlark" for v in sway_views()))
    assert not on_bus("org.kde.StatusNotifierWatcher")  # no tray host yet
    open(HOME + "/bar-go", "w").close()
    until("the item in the bar", registered_items)
    background = (0, 0, 0)
    # The tray sits at the bar's right end; the rest of the bar is empty.
    until("the icon drawn", lambda: grim().differs((1280 - 48, 0, 48, BAR), background))
    shot = grim("bar.png", (1280 - 160, 0, 160, BAR))
    assert not shot.differs((0, 0, 1280 - 48, BAR), background)

    for close in ("Escape", "second click", "focus elsewhere"):
        activate_item()
        view = until("the panel", panel)
        assert view["focused"] and view["border"] in ("none", "csd"), view
        if close == "Escape":
            link = "https://example.com/wayland"
            run("wtype", link, "-k", "Return")
            until("the save", lambda: saved(origin, link))
            until("the saved panel", lambda: widgets.find("label", "Saved") or widgets.find(
                "label", "Saved — filing it now"))
            r = panel()["rect"]
            grim("panel.png", (r["x"], r["y"], r["width"], r["height"]))
            run("wtype", "-k", "Escape")
        elif close == "second click":
            activate_item()
        else:
            run("swaymsg", '[title="^Saves — Pinlark$"] focus')
        until("the panel closed after " + close, lambda: not panel())

    doctor = run(APP, "--doctor").stdout
    print(doctor)
    assert re.search(r"^display +Wayland \(sway\)$", doctor, re.M), doctor
    assert re.search(r"^tray +StatusNotifierItem host ", doctor, re.M), doctor

    # The bar goes, and the tray with it: the library window stands in. There the panel is a
    # pop-up of the window, not a window of its own.
    ours = ("SWAYSOCK=" + os.environ["SWAYSOCK"]).encode()  # not the bar of the user's desktop
    for pid, name in processes_of(os.getuid()).items():
        if name == "swaybar":
            try:
                with open(f"/proc/{pid}/environ", "rb") as environ:
                    if ours in environ.read().split(b"\0"):
                        os.kill(pid, signal.SIGTERM)
            except (FileNotFoundError, ProcessLookupError):
                pass  # a process that ended meanwhile

    def type_link(field, link):
        run("wtype", link, "-k", "Return")

    no_tray_panel(widgets, origin, "sway", type_link)
    assert not panel() and [v["name"] for v in sway_views() if v["focused"]] == ["Saves — Pinlark"]
    grim("popup.png")
    run("wtype", "-k", "Escape")
    until("the pop-up closed", lambda: not widgets.find("text", "Link"))

    # The bar comes back, and with it a new tray host: the icon is made anew for it.
    run("swaymsg", "reload")
    until("the item back in the bar", registered_items)
    activate_item()
    until("the panel from the new item", panel)


def no_tray_panel(widgets, origin, name, type_link):
    """The library window's stand-in for the tray: its File menu's Quick Save opens the panel
    under the window's Quick Save button, focused; a link typed there is saved."""
    until("the stand-in menu", lambda: widgets.find("menu item", "File"))
    widgets.press("menu item", "Quick Save\u2026", showing=False)
    field = until("the panel", lambda: widgets.find("text", "Link"))[0]
    until("the field focused",
          lambda: field.get_state_set().contains(widgets.Atspi.StateType.FOCUSED))
    link = "https://example.com/" + name
    type_link(field, link)
    until("the save", lambda: saved(origin, link))


def start_weston():
    os.environ["WAYLAND_DISPLAY"] = f"wayland-pinlark-{os.getpid()}"
    start("weston", "--backend=headless-backend.so", "--socket=" + os.environ["WAYLAND_DISPLAY"],
          "--width=1280", "--height=800", "--use-pixman", "--idle-time=0",
          stderr=subprocess.DEVNULL)
    until("weston", lambda: os.path.exists(
        os.environ["XDG_RUNTIME_DIR"] + "/" + os.environ["WAYLAND_DISPLAY"]))


def in_weston(widgets, origin, log):
    # Nothing sends keys to weston: the link comes from a second launch, as a desktop's "open
    # with" hands it over, and the Save button is pressed through the accessibility bus.
    def type_link(field, link):
        run(APP, "--save", link)
        until("the link in the field", lambda: widgets.field_text() == link)
        widgets.press("push button", "Save")

    no_tray_panel(widgets, origin, "weston", type_link)
    doctor = run(APP, "--doctor").stdout
    print(doctor)
    assert re.search(r"^display +Wayland \(weston\)$", doctor, re.M), doctor
    assert re.search(r"^tray +none: ", doctor, re.M), doctor


def start_kde():
    """kwin, headless, then the desktop portal's KDE backend and the portal itself. They start
    here, in this order: started by the bus instead, the backend finds no display and aborts."""
    # A copy: the installed kwin_wayland carries a file capability, which a container's root may
    # not be allowed to take up ("Operation not permitted").
    kwin = shutil.copy("/usr/bin/kwin_wayland", HOME)
    os.environ.update(HOME=HOME, XDG_CURRENT_DESKTOP="KDE",
                      WAYLAND_DISPLAY=f"wayland-pinlark-{os.getpid()}")
    start(kwin, "--virtual", "--no-lockscreen", "--socket", os.environ["WAYLAND_DISPLAY"],
          "--width", "1280",
          "--height", "800", env=dict(os.environ, KWIN_SCREENSHOT_NO_PERMISSION_CHECKS="1"),
          stderr=subprocess.DEVNULL)
    until("kwin's global shortcuts", lambda: on_bus("org.kde.kglobalaccel"))
    start(glob.glob("/usr/lib/*/libexec/xdg-desktop-portal-kde")[0],
          env=dict(os.environ, QT_QPA_PLATFORM="wayland"), stderr=subprocess.DEVNULL)
    until("the portal's KDE backend", lambda: on_bus("org.freedesktop.impl.portal.desktop.kde"))
    start("/usr/libexec/xdg-desktop-portal", "--replace", stderr=subprocess.DEVNULL)
    until("the desktop portal", lambda: on_bus("org.freedesktop.portal.Desktop"))


def kglobalaccel(path, method, *args):
    return run("gdbus", "call", "--session", "--dest", "org.kde.kglobalaccel", "--object-path",
               path, "--method", method, *args).stdout


def library_component():
    """The kglobalaccel component that holds the app's shortcut, with its active keys."""
    for path in re.findall(r"'(/component/\w+)'", kglobalaccel(
            "/kglobalaccel", "org.kde.KGlobalAccel.allComponents")):
        infos = kglobalaccel(path, "org.kde.kglobalaccel.Component.allShortcutInfos")
        if keys := re.search(r"\('library', 'Show or hide the library window', [^[]*\[([^]]*)\]",
                             infos):
            return path, [int(k) for k in keys[1].split(",") if k.strip()]
    return None


def kwin_shot(name):
    """kwin's screenshot of the whole desktop, saved as `name`."""
    from gi.repository import Gio, GLib
    bus = Gio.bus_get_sync(Gio.BusType.SESSION)
    read, write = os.pipe()
    reply, _ = bus.call_with_unix_fd_list_sync(
        "org.kde.KWin", "/org/kde/KWin/ScreenShot2", "org.kde.KWin.ScreenShot2",
        "CaptureWorkspace", GLib.Variant("(a{sv}h)", ({}, 0)), None, 0, 10000,
        Gio.UnixFDList.new_from_array([write]), None)
    image = reply.unpack()[0]
    assert image["format"] in (4, 5, 6), image  # QImage's 32-bit formats, BGRA in memory
    with os.fdopen(read, "rb") as pipe:
        subprocess.run(["convert", "-size", f"{image['stride'] // 4}x{image['height']}",
                        "-depth", "8", "bgra:-", "-crop", f"{image['width']}x{image['height']}+0+0",
                        f"{SHOTS}/{name}"], stdin=pipe, check=True, timeout=20)


def panel_footer(widgets):
    """Opens the panel from the library window's File menu; gives the keys its footer names,
    None where it offers "Set a shortcut…" instead."""
    until("the stand-in menu", lambda: widgets.find("menu item", "File"))
    widgets.press("menu item", "Quick Save\u2026", showing=False)
    until("the panel", lambda: widgets.find("text", "Link"))
    link = until("the footer", lambda: widgets.find("push button", "Open library"))[0]
    offer = widgets.find("push button", "Set a shortcut\u2026")
    assert bool(link.get_description()) != bool(offer), (link.get_description(), offer)
    return link.get_description() or None


def in_kde(widgets, origin, log):
    # The portal binds the shortcut with the keys asked for, in kwin's kglobalaccel, and the app
    # says so: in its log, and to a later `--doctor` through the running copy.
    bound = until("the shortcut bound", lambda: re.search(
        r"desktop portal bound the global shortcut to (\S+)", open(log.name).read()))[1]
    component, keys = until("the shortcut in kglobalaccel", library_component)
    assert keys == [META_ALT_L], keys
    doctor = run(APP, "--doctor").stdout
    print(doctor)
    assert re.search(r"^shortcut +the desktop portal's GlobalShortcuts, " + re.escape(bound) +
                     " registered$", doctor, re.M), doctor

    # What a press of the keys makes kwin do: the portal hears of it and tells the app, which
    # hides the library window, and shows it again at the next.
    def library_showing():
        return bool(widgets.find("filler", "Saves — Pinlark"))
    until("the library", library_showing)
    for showing in (False, True):
        kglobalaccel(component, "org.kde.kglobalaccel.Component.invokeShortcut", "library")
        until("the library " + ("shown" if showing else "hidden"),
              lambda: library_showing() == showing)
    assert panel_footer(widgets) == bound
    kwin_shot("panel.png")

    # Another program has the keys first, the next time: the portal still reports them, but
    # kglobalaccel gave the app's shortcut none, and the app says so; its footer offers to set
    # a shortcut.
    app = next(p for p in processes if p.args[0] == APP)
    stop_app(app)
    ours = kglobalaccel(component, "org.freedesktop.DBus.Properties.Get",
                        "org.kde.kglobalaccel.Component", "uniqueName").split("'")[1]
    kglobalaccel("/kglobalaccel", "org.kde.KGlobalAccel.unregister", ours, "library")
    other = "['e2e', 'other', 'Another program', 'Another shortcut']"
    kglobalaccel("/kglobalaccel", "org.kde.KGlobalAccel.doRegister", other)
    kglobalaccel("/kglobalaccel", "org.kde.KGlobalAccel.setShortcut", other, f"[{META_ALT_L}]",
                 "4")  # these keys, not ones kept from earlier
    start_app(log)
    until("the shortcut without keys", lambda: re.search(
        "took the global shortcut without keys .*Another shortcut", open(log.name).read()))
    assert "no keys registered" in run(APP, "--doctor").stdout
    assert panel_footer(widgets) is None

    # Keys the user then gives the shortcut in the desktop's settings are the app's at once.
    kglobalaccel("/kglobalaccel", "org.kde.KGlobalAccel.setForeignShortcut",
                 f"['{ours}', 'library', '', '']", f"[{META_ALT_L - ord('L') + ord('S')}]")
    until("the new keys", lambda: "bound the global shortcut to Meta+Alt+S" in
          open(log.name).read())
    assert "Meta+Alt+S registered" in run(APP, "--doctor").stdout


def start_app(log):
    env = dict(os.environ, QT_QPA_PLATFORM="wayland")
    if DESKTOP != "sway":
        # Headless weston's and kwin's seats have no keyboard, and Qt 6.4's Wayland input method
        # then crashes drawing a focused field's cursor: the plain input context instead.
        env["QT_IM_MODULE"] = "none"
    start(APP, stderr=log, env=env, app=True)


def main():
    widgets = Widgets()
    origin = signed_in_home(BUILD, HOME + "/app")
    {"sway": start_sway, "weston": start_weston, "kde": start_kde}[DESKTOP]()
    os.makedirs(SHOTS, exist_ok=True)
    log = open(SHOTS + "/app.log", "w+")
    start_app(log)
    try:
        {"sway": in_sway, "weston": in_weston, "kde": in_kde}[DESKTOP](widgets, origin, log)
    except Exception:
        if DESKTOP == "sway":
            grim("failure.png")
        raise


if DESKTOP == "sway" and os.getuid() == 0:
    own_environment()
    sys.exit(as_user(USER, HOME, SHOTS, 150))  # within the CTest time-out
on_private_bus()
try:
    main()
finally:
    stop_all()
    if pwd.getpwuid(os.getuid()).pw_name != USER:  # else the root side removes it with the user
        subprocess.run(["rm", "-rf", HOME])
