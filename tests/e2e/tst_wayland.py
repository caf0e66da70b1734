#!/usr/bin/python3
# The app end to end on Wayland against the stand-in service, driven like a user: in sway, whose
# swaybar is a StatusNotifierItem tray on a black bar, and in weston, which shows no tray.
#   tests/e2e/tst_wayland.py BUILD_DIR sway|weston   (screenshots: BUILD_DIR/screenshots/DESKTOP/)
# sway refuses to run as root: then the session runs as a user made for the run, in a process
# group of its own; the group, the user and its files go when the test ends, however it ends.

import json
import os
import pwd
import signal
import subprocess
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (Screenshot, Widgets, on_private_bus, run, saved, signed_in_home,  # noqa: E402
                     start, stop_all, until)

BUILD = os.path.abspath(sys.argv[1])
DESKTOP = sys.argv[2]
APP = BUILD + "/Pinlark.app/Contents/MacOS/Pinlark"
# Not under testhome/: the web engine tests make that folder 0700, and the session user must
# reach its home.
HOME = f"{BUILD}/e2e-home-{DESKTOP}"
SHOTS = f"{BUILD}/screenshots/{DESKTOP}"
USER = "pinlark-e2e"
BAR = 28  # swaybar's height, set below


def as_user():
    """Runs this test again as USER and gives its exit status."""
    run("userdel", USER, check=False)  # left by a run that was killed
    run("useradd", "--system", "--no-create-home", "--home-dir", HOME, "--shell",
        "/usr/sbin/nologin", USER)
    session = None
    try:
        os.makedirs(HOME + "/runtime", mode=0o700)
        os.makedirs(SHOTS, exist_ok=True)
        run("chown", "-R", f"{USER}:{USER}", HOME, SHOTS)
        session = subprocess.Popen(
            ["runuser", "-u", USER, "--", "env", "HOME=" + HOME, "XDG_RUNTIME_DIR=" + HOME +
             "/runtime", "/usr/bin/python3"] + sys.argv, start_new_session=True)
        return session.wait(timeout=300)
    finally:
        if session:
            try:
                os.killpg(session.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        for pid in filter(str.isdigit, os.listdir("/proc")):  # anything that left the group
            try:
                if os.stat(f"/proc/{pid}").st_uid == pwd.getpwnam(USER).pw_uid:
                    os.kill(int(pid), signal.SIGKILL)
            except (FileNotFoundError, ProcessLookupError):
                pass
        run("chown", "-R", "root:root", SHOTS, check=False)
        run("rm", "-rf", HOME, check=False)
        run("userdel", USER, check=False)


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
    config = HOME + "/sway.conf"
    with open(config, "w") as f:
        f.write("output * resolution 1280x800\n"
                f"bar {{\n position top\n height {BAR}\n workspace_buttons no\n"
                " colors {\n  background #000000\n }\n}\n"
                f"exec sh -c 'echo $WAYLAND_DISPLAY > {HOME}/display'\n")
    start("sway", "-c", config, env=dict(os.environ, WLR_BACKENDS="headless",
                                          WLR_LIBINPUT_NO_DEVICES="1", WLR_RENDERER="pixman"),
          stderr=subprocess.DEVNULL)
    until("sway", lambda: os.path.exists(HOME + "/display") and open(HOME + "/display").read())
    os.environ["WAYLAND_DISPLAY"] = open(HOME + "/display").read().strip()
    os.environ["SWAYSOCK"] = run("sh", "-c", "ls $XDG_RUNTIME_DIR/sway-ipc.*.sock").stdout.strip()
    # The seat's keyboard, for as long as the test runs: a seat without one has no keyboard focus.
    start("wtype", "-s", "600000")


def in_sway(widgets, origin, log):
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
            run("swaymsg", '[title="^Saves$"] focus')
        until("the panel closed after " + close, lambda: not panel())

    print(run(APP, "--doctor").stdout)

    # The bar goes, and the tray with it: the library window stands in. There the panel is a
    # pop-up of the window, not a window of its own.
    for pid in filter(str.isdigit, os.listdir("/proc")):
        if open(f"/proc/{pid}/comm").read().strip() == "swaybar" and \
                os.stat(f"/proc/{pid}").st_uid == os.getuid():
            os.kill(int(pid), signal.SIGTERM)

    def type_link(field, link):
        run("wtype", link, "-k", "Return")

    no_tray_panel(widgets, origin, "sway", type_link)
    assert not panel() and [v["name"] for v in sway_views() if v["focused"]] == ["Saves"]
    grim("popup.png")
    run("wtype", "-k", "Escape")
    until("the pop-up closed", lambda: not widgets.find("text", "Link"))


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
    start("weston", "--backend=headless-backend.so", "--socket=wl-pinlark", "--width=1280",
          "--height=800", "--use-pixman", "--idle-time=0", "--debug", stderr=subprocess.DEVNULL)
    os.environ["WAYLAND_DISPLAY"] = "wl-pinlark"
    until("weston", lambda: os.path.exists(os.environ["XDG_RUNTIME_DIR"] + "/wl-pinlark"))


def in_weston(widgets, origin, log):
    # Nothing sends keys to weston: the link comes from a second launch, as a desktop's "open
    # with" hands it over, and the Save button is pressed through the accessibility bus.
    def type_link(field, link):
        run(APP, "--save", link)
        until("the link in the field", lambda: widgets.field_text() == link)
        widgets.press("push button", "Save")

    no_tray_panel(widgets, origin, "weston", type_link)
    print(run(APP, "--doctor").stdout)
    subprocess.run(["weston-screenshooter"], cwd=SHOTS, timeout=20, check=True)
    for shot in (f for f in os.listdir(SHOTS) if f.startswith("wayland-screenshot")):
        os.replace(f"{SHOTS}/{shot}", f"{SHOTS}/panel.png")


def main():
    widgets = Widgets()
    origin = signed_in_home(BUILD, HOME + "/app")
    (start_sway if DESKTOP == "sway" else start_weston)()
    os.makedirs(SHOTS, exist_ok=True)
    log = open(SHOTS + "/app.log", "w+")
    env = dict(os.environ, QT_QPA_PLATFORM="wayland")
    if DESKTOP == "weston":
        # Headless weston's seat has no keyboard, and Qt 6.4's Wayland input method then crashes
        # drawing a focused field's cursor: the plain input context instead.
        env["QT_IM_MODULE"] = "none"
    app = start(APP, stderr=log, env=env)
    try:
        (in_sway if DESKTOP == "sway" else in_weston)(widgets, origin, log)
    except Exception:
        if DESKTOP == "sway":
            grim("failure.png")
        raise


if DESKTOP == "sway" and os.getuid() == 0:
    sys.exit(as_user())
on_private_bus()
try:
    main()
finally:
    stop_all()
    if os.getuid() == 0:  # else the root side removes it with the user
        subprocess.run(["rm", "-rf", HOME])
