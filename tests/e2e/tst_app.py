#!/usr/bin/python3
# The app end to end as a user meets it, in the tray of a private X server against the stand-in
# service: driven with xdotool, read back through the accessibility bus and the X server.
#   tests/e2e/tst_app.py BUILD_DIR     (screenshots go to BUILD_DIR/screenshots/app/)

import os
import shutil
import subprocess
import sys
import time

from harness import (accessibles, click, field_text, on_private_bus, run, screenshot, sign_in,
                     start, start_desktop, start_service, stop, tray_icon, until, use_home,
                     viewable)

BUILD = os.path.abspath(sys.argv[1])
APP = BUILD + "/Pinlark.app/Contents"
HOME = BUILD + "/testhome/e2e_app"
SHOTS = BUILD + "/screenshots/app"
SHORTCUT = "alt+super+s"
ENTRY = HOME + "/data/applications/app.pinlark.Pinlark.desktop"


def click_field():
    click(accessibles("text", "Link")[0])


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
    start_desktop()
    origin = start_service(BUILD)
    shutil.rmtree(HOME, ignore_errors=True)
    use_home(HOME)
    run(APP + "/Helpers/defaults", "write", "app.pinlark.Pinlark", "origin", "-string", origin)
    sign_in(BUILD, origin)

    app_log = open(HOME + "/app.log", "w+")
    app = start(APP + "/MacOS/Pinlark", stderr=app_log)
    icon = until("the tray icon", tray_icon)
    # Run from a folder it may write to, as a copy unzipped into ~/Applications is, the app has
    # put itself in the launcher, with an entry that starts this copy.
    run("desktop-file-validate", ENTRY)
    with open(ENTRY) as entry:
        assert f'Exec="{os.path.realpath(APP)}/MacOS/Pinlark" %u' in entry.read().splitlines()
    offered = run("gio", "mime", "x-scheme-handler/https").stdout  # under "Open with"
    assert "\tapp.pinlark.Pinlark.desktop\n" in offered, offered
    library = until("the library", lambda: run("xdotool", "search", "--onlyvisible", "--name",
                                               "^Saves$", check=False).stdout.split())[0]

    run("xdotool", "mousemove", *map(str, icon), "click", "1")
    until("the panel", lambda: accessibles("text", "Link"))
    click_field()
    run("xdotool", "type", "--delay", "5", "https://example.com/e2e")
    run("xdotool", "key", "Return")
    until("the save settled", lambda: accessibles("label", "Saved"))
    location = run("xdotool", "getmouselocation", "--shell").stdout  # still over the panel
    screenshot(location.split("WINDOW=")[1].split()[0], SHOTS + "/panel.png")

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
    until("the link in the panel", lambda: field_text() == "https://example.org/cli")

    refused = run(APP + "/MacOS/Pinlark", "ftp://x", check=False)
    assert refused.returncode == 2 and "ftp://x" in refused.stderr, refused
    assert app.poll() is None and field_text() == "https://example.org/cli"
    click_field()
    run("xdotool", "key", "Escape")
    until("the panel closed", lambda: not accessibles("text", "Link"))
    screenshot(library, SHOTS + "/library.png")

    run("xdotool", "windowfocus", "--sync", library)
    maps = map_events(library)
    run("xdotool", "keydown", SHORTCUT)
    try:
        time.sleep(1.0)  # held while the server repeats the key
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

    # Taken off the desktop again, it says where the preferences it leaves are.
    report = run(APP + "/MacOS/Pinlark", "--uninstall").stdout
    assert HOME + "/config/app.pinlark.Pinlark.json" in report, report
    assert not os.path.exists(ENTRY) and not os.listdir(HOME + "/data/icons/hicolor/scalable/apps")


on_private_bus()
try:
    main()
finally:
    stop()
    shutil.rmtree(HOME, ignore_errors=True)
