#!/usr/bin/python3
# The app end to end as a user meets it, in the tray of a private X server against the stand-in
# service: driven with xdotool, read back through the accessibility bus and the X server.
#   tests/e2e/tst_app.py BUILD_DIR     (screenshots go to BUILD_DIR/screenshots/app/)

import json
import os
import re
import shutil
import subprocess
import sys

BUILD = os.path.abspath(sys.argv[1])
# The app registers itself from a copy in a folder of the user's own, wherever the build lies.
PLACE = os.environ.get("PINLARK_TEST_PLACE", BUILD)
APP = PLACE + "/apps/Pinlark.app/Contents"
HOME = PLACE + "/testhome/e2e_app"
SHOTS = BUILD + "/screenshots/app"
SHORTCUT = "alt+super+l"
ENTRY = HOME + "/data/applications/app.pinlark.Pinlark.desktop"

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (Screenshot, Widgets, on_private_bus, run, saved, signed_in_home,  # noqa: E402
                     start, settled_tray_icon, start_x11_tray, stop_all, until, viewable)

on_private_bus()


def screenshot(window, name):
    os.makedirs(SHOTS, exist_ok=True)
    run("import", "-window", window, f"{SHOTS}/{name}")


def click_field():
    box = widgets.Atspi.Component.get_extents(widgets.find("text", "Link")[0],
                                              widgets.Atspi.CoordType.SCREEN)
    run("xdotool", "mousemove", str(box.x + box.width // 2), str(box.y + box.height // 2),
        "click", "1")


def copy(text):
    """Another app copies `text` and keeps offering it, as a GTK window on the X server does."""
    script = ("import gi, sys\ngi.require_version('Gtk', '3.0')\n"
              "from gi.repository import Gtk, Gdk\n"
              "Gtk.Clipboard.get(Gdk.SELECTION_CLIPBOARD).set_text(sys.argv[1], -1)\n"
              "print('copied', flush=True)\nGtk.main()\n")
    copier = start("/usr/bin/python3", "-c", script, text, stdout=subprocess.PIPE, text=True,
                   env=dict(os.environ, GDK_BACKEND="x11"))
    assert copier.stdout.readline().strip() == "copied"
    return copier


def notification_window():
    """Where dunst shows a notification on the screen, while it shows one."""
    for window in run("xdotool", "search", "--onlyvisible", "--classname", "Dunst",
                      check=False).stdout.split():
        info = run("xwininfo", "-id", window).stdout
        box = {key: int(re.search(pattern + r":\s+(-?\d+)", info).group(1)) for key, pattern in
               (("x", "Absolute upper-left X"), ("y", "Absolute upper-left Y"), ("w", "Width"),
                ("h", "Height"))}
        if box["w"] > 1 and box["h"] > 1:
            return box
    return None


def map_events(window):
    """xev on `window`, once it hears it: a property set on the window has come through."""
    xev = start("stdbuf", "-oL", "xev", "-id", window, "-event", "structure", "-event",
                "property", stdout=subprocess.PIPE, text=True)
    os.set_blocking(xev.stdout.fileno(), False)

    def heard():
        run("xprop", "-id", window, "-f", "_PINLARK_TEST", "8s", "-set", "_PINLARK_TEST", "1")
        return any(line.startswith("PropertyNotify") for line in xev.stdout.readlines())

    until("xev to listen", heard)
    return lambda: [line.split()[0] for line in xev.stdout.readlines()
                    if line.startswith(("MapNotify", "UnmapNotify"))]


def main():
    start_x11_tray()
    global widgets
    widgets = Widgets()  # starts the accessibility bus first
    shutil.rmtree(PLACE + "/apps", ignore_errors=True)
    os.makedirs(PLACE + "/apps", mode=0o700)
    shutil.copytree(BUILD + "/Pinlark.app", PLACE + "/apps/Pinlark.app", symlinks=True)
    origin = signed_in_home(BUILD, HOME, app=PLACE + "/apps/Pinlark.app")
    os.environ["QT_QPA_PLATFORM"] = "xcb"
    run(APP + "/Helpers/defaults", "write", "app.pinlark.Pinlark", "loginItemDesired", "-bool", "YES")

    app_log = open(HOME + "/app.log", "w+")
    app = start(APP + "/MacOS/Pinlark", stderr=app_log, app=True)
    icon = settled_tray_icon()
    # Run from a folder it may write to, as a copy unzipped into ~/Applications is, the app has
    # put itself in the launcher, with an entry that starts this copy.
    run("desktop-file-validate", ENTRY)
    with open(ENTRY) as entry:
        assert f'Exec={os.path.realpath(APP)}/MacOS/Pinlark %u' in entry.read().splitlines()
    offered = run("gio", "mime", "x-scheme-handler/https").stdout  # never a handler of web links
    assert "app.pinlark.Pinlark.desktop" not in offered, offered
    library = until("the library", lambda: run("xdotool", "search", "--onlyvisible", "--name",
                                               "^Saves — Pinlark$", check=False).stdout.split())[0]

    # The icon stands out from the tray's background.
    os.makedirs(SHOTS, exist_ok=True)
    run("import", "-window", "root", "-crop", f"96x32+{icon[0] - 48}+0", f"{SHOTS}/tray.png")
    shot = Screenshot(subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"], capture_output=True,
                                     check=True).stdout)
    assert shot.differs((icon[0] - 8, icon[1] - 8, 16, 16), shot.pixel(icon[0] - 14, icon[1]))
    doctor = run(APP + "/MacOS/Pinlark", "--doctor").stdout
    print(doctor)
    topics = {topic.strip(): text
              for topic, text in re.findall(r"^(\S.{14}) (.*)$", doctor, re.M)}
    expected = {
        "display": "X11 (no window manager)",
        "tray": "XEmbed tray on the X server",
        "shortcut": "the X11 key grab, Meta+Alt+L registered",
        "open at login": f"yes ({HOME}/config/autostart/app.pinlark.Pinlark.desktop)",
        "origin": origin + " answers (HTTP 200)",
        "signed in": "yes",
        "outbox": "empty"}
    assert {topic: topics.get(topic) for topic in expected} == expected, doctor

    run("xdotool", "mousemove", *map(str, icon), "click", "1")
    until("the panel", lambda: widgets.find("text", "Link"))
    click_field()
    run("xdotool", "type", "--delay", "5", "https://example.com/e2e")
    run("xdotool", "key", "Return")
    until("the save settled", lambda: widgets.find("label", "Saved"))
    location = run("xdotool", "getmouselocation", "--shell").stdout  # still over the panel
    screenshot(location.split("WINDOW=")[1].split()[0], "panel.png")

    run("xdotool", "windowfocus", "--sync", library, "key", SHORTCUT)
    until("the library hidden", lambda: not viewable(library))
    run("xdotool", "key", SHORTCUT)
    until("the library shown", lambda: viewable(library))
    run("curl", "-sS", "-X", "DELETE", origin + "/dev/requests")
    run("xdotool", "key", "ctrl+r")  # lists the link saved just now
    until("the reload", lambda: '"/saves"' in run("curl", "-sS", origin + "/dev/requests").stdout)

    run("xdotool", "key", SHORTCUT)
    until("the library hidden", lambda: not viewable(library))
    run(APP + "/MacOS/Pinlark")
    until("the library shown", lambda: viewable(library))

    run(APP + "/MacOS/Pinlark", "--save", "https://example.org/cli")
    until("the link in the panel", lambda: widgets.field_text() == "https://example.org/cli")

    refused = run(APP + "/MacOS/Pinlark", "ftp://x", check=False)
    assert refused.returncode == 2 and "ftp://x" in refused.stderr, refused
    assert app.poll() is None and widgets.field_text() == "https://example.org/cli"
    click_field()
    run("xdotool", "key", "Escape")
    until("the panel closed", lambda: not widgets.find("text", "Link"))

    # Three links pasted from a message: the panel counts them, and Return saves each once, in
    # order, at the stand-in.
    links = ["https://example.com/one", "https://example.com/two", "https://example.com/three"]
    copier = copy(f"See {links[0]}\nand {links[1]}, {links[0]} ftp://example.com/x\n{links[2]}")
    run(APP + "/MacOS/Pinlark", "--quick-save")
    until("the panel", lambda: widgets.find("text", "Link"))
    click_field()
    run("xdotool", "key", "ctrl+a", "ctrl+v")
    until("the links counted", lambda: widgets.find("label", "3 links, each saved once, in order; "
                                                    "1 word that isn't an http(s) link is left out."))
    panel = run("xdotool", "getmouselocation", "--shell").stdout.split("WINDOW=")[1].split()[0]
    screenshot(panel, "panel-several-links.png")
    run("curl", "-sS", "-X", "DELETE", origin + "/dev/requests")
    run("xdotool", "key", "Return")
    until("the links saved", lambda: widgets.find("label", "3 saved"))
    screenshot(panel, "panel-several-saved.png")
    posts = [json.loads(r["body"])["url"]
             for r in json.loads(run("curl", "-sS", origin + "/dev/requests").stdout)
             if r["method"] == "POST" and r["path"] == "/api/saves"]
    assert posts == links, posts
    run("xdotool", "key", "Escape")
    until("the panel closed", lambda: not widgets.find("text", "Link"))
    copier.terminate()

    # The copied link saved at once, the panel left closed, a notification telling it.
    start("dunst", stderr=subprocess.DEVNULL)
    until("the notification server", lambda: run("dunstctl", "is-paused", check=False).returncode == 0)
    copier = copy("https://example.com/copied")
    run("curl", "-sS", "-X", "DELETE", origin + "/dev/requests")
    run(APP + "/MacOS/Pinlark", "--save-clipboard")
    until("the copied link saved", lambda: saved(origin, "https://example.com/copied"))
    dunst = until("the notification shown", notification_window)
    run("import", "-window", "root", "-crop", "{w}x{h}+{x}+{y}".format(**dunst),
        f"{SHOTS}/notification.png")
    run("dunstctl", "close-all")  # into the history, where it can be read
    told = until("the notification in the history", lambda: [
        (n["summary"]["data"], n["body"]["data"])
        for n in json.loads(run("dunstctl", "history").stdout)["data"][0]])
    assert told == [("Saved", "https://example.com/copied")], told
    assert not widgets.find("text", "Link")  # no panel
    copier.terminate()

    screenshot(library, "library.png")

    run("xdotool", "windowfocus", "--sync", library)
    maps = map_events(library)
    # Held until the server has repeated the key twice: the grab takes the repeats, but the
    # server still reports them to XInput 2 listeners on the root window.
    keys = start("stdbuf", "-oL", "xinput", "test-xi2", "--root", stdout=subprocess.PIPE,
                 text=True)
    os.set_blocking(keys.stdout.fileno(), False)
    repeats = []
    run("xdotool", "keydown", SHORTCUT)
    try:
        until("two key repeats", lambda: (
            repeats.extend(line for line in keys.stdout.readlines() if "flags: repeat" in line)
            or len(repeats) >= 2))
    finally:
        run("xdotool", "keyup", SHORTCUT)
    until("the library hidden", lambda: not viewable(library))
    run("xdotool", "key", SHORTCUT)
    seen = []
    until("the library shown again", lambda: (seen.extend(maps()) or seen[-1:] == ["MapNotify"]))
    assert seen == ["UnmapNotify", "MapNotify"], seen

    run("xdotool", "windowfocus", "--sync", library, "key", "ctrl+q")
    assert app.wait(20) == 0
    app_log.seek(0)
    assert "WebEnginePage still not deleted" not in app_log.read()  # the page went first

    # Taken off the desktop again, it says what it removed and where what it leaves is.
    report = run(APP + "/MacOS/Pinlark", "--uninstall").stdout
    assert report == f"""\
Removed {HOME}/config/autostart/app.pinlark.Pinlark.desktop
Removed {ENTRY}
Removed {HOME}/data/icons/hicolor/symbolic/apps/app.pinlark.Pinlark-symbolic.svg
Removed {HOME}/data/icons/hicolor/scalable/apps/app.pinlark.Pinlark.svg
Removed {HOME}/data/applications/mimeinfo.cache
Removed {HOME}/data/icons/hicolor/symbolic/apps
Removed {HOME}/data/icons/hicolor/scalable/apps
Removed {HOME}/data/icons/hicolor/symbolic
Removed {HOME}/data/icons/hicolor/scalable
Removed {HOME}/data/icons/hicolor
Removed {HOME}/data/applications
Removed {HOME}/data/icons
Turned off Open at Login
Left in place; delete them for Pinlark to forget you:
  preferences  {HOME}/config/app.pinlark.Pinlark.json
  sign-in      {HOME}/config/app.pinlark.Pinlark.cookies.json
  web data     {HOME}/data/app.pinlark.Pinlark
  web cache    {HOME}/cache/app.pinlark.Pinlark
  web engine   {HOME}/data/Pinlark
Pinlark.app itself stays where it is.
""", report
    assert not os.path.exists(HOME + "/data/applications") and not os.path.exists(HOME + "/data/icons")


widgets = None
try:
    main()
finally:
    stop_all()
    shutil.rmtree(HOME, ignore_errors=True)
    shutil.rmtree(PLACE + "/apps", ignore_errors=True)
