#!/usr/bin/python3
# The Debian package end to end: built once by scripts/package --deb, checked by lintian, unpacked
# with dpkg-deb -x into a temporary root, and the app started from there by an ordinary user (who,
# as after an install, can't write to the bundle's folder) in the tray of a private X server
# against the stand-in service, which offers a newer release. On that desktop a stand-in browser,
# installed for the system like the package, is the only other application for web links, and no
# default is recorded: it stays their default, and xdg-open reaches it.
#   tests/e2e/tst_package.py BUILD_DIR
# The user's part runs from a copy of what it needs in a temporary folder, which any user may
# reach.

import os
import plistlib
import pwd
import re
import shutil
import subprocess
import sys
import tempfile

from harness import (Widgets, on_private_bus, own_environment, run, signed_in_home, start,
                     start_x11_tray, settled_tray_icon, stop_all, until)

AS_USER = sys.argv[-1] == "--as-user"
HERE = os.path.dirname(os.path.abspath(__file__))
WORK = sys.argv[1] if AS_USER else tempfile.mkdtemp(prefix="pinlark-package-")
BUILD = WORK + "/build" if AS_USER else os.path.abspath(sys.argv[1])
ROOT, HOME = WORK + "/root", WORK + "/home"
APP = ROOT + "/usr/lib/pinlark/Pinlark.app"


def windows(*match):
    """The visible windows that xdotool search finds with `match`."""
    return set(run("xdotool", "search", "--onlyvisible", *match, check=False).stdout.split())


def package():
    """As root: the package built, checked and unpacked; then the rest as the user nobody."""
    deb = run(os.path.dirname(os.path.dirname(HERE)) + "/scripts/package", "--deb", WORK,
              timeout=900).stdout.split()[-1]
    lintian = run("lintian", "--fail-on", "error", deb, check=False, timeout=300)
    print(lintian.stdout, end="")
    assert lintian.returncode == 0, lintian.stderr
    runs_on(deb)
    run("dpkg-deb", "-x", deb, ROOT)
    applications = ROOT + "/usr/share/applications"
    with open(applications + "/browser.desktop", "w") as browser:
        browser.write(f"[Desktop Entry]\nType=Application\nName=Browser\nExec={HOME}/bin/x-www-browser"
                      " %u\nMimeType=x-scheme-handler/http;x-scheme-handler/https;\n")
    run("update-desktop-database", applications)  # what the installation's trigger runs
    assert os.readlink(ROOT + "/usr/bin/pinlark") == "../lib/pinlark/Pinlark.app/Contents/MacOS/Pinlark"
    run(BUILD + "/tools/pinlark-seal", "--check", APP)  # every file as sealed

    os.makedirs(WORK + "/releases")
    with open(WORK + "/releases/99.0.json", "w") as manifest:
        manifest.write('{"version": "99.0", "url": "/releases/Pinlark-99.0.zip", "page": "/download"}')
    os.makedirs(HOME + "/bin")
    with open(HOME + "/bin/x-www-browser", "w") as browser:
        browser.write('#!/bin/sh\necho "$@" >>"$HOME/browser"\n')
    os.chmod(HOME + "/bin/x-www-browser", 0o755)
    for program in ("/devservice/pinlark-devservice", "/tests/cookie_peer"):
        os.makedirs(os.path.dirname(WORK + "/build" + program), exist_ok=True)
        shutil.copy2(BUILD + program, WORK + "/build" + program)
    os.makedirs(WORK + "/e2e")
    for script in ("harness.py", "tst_package.py"):
        shutil.copy2(HERE + "/" + script, WORK + "/e2e")
    os.chmod(WORK, 0o755)
    nobody = pwd.getpwnam("nobody")
    for folder, _, files in os.walk(HOME):
        for name in [folder] + [os.path.join(folder, f) for f in files]:
            os.chown(name, nobody.pw_uid, nobody.pw_gid)
    environment = {k: v for k, v in os.environ.items()
                   if k not in ("DBUS_SESSION_BUS_ADDRESS", "PINLARK_E2E_BUS")} | {"HOME": HOME}
    user = subprocess.run(["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                           "/usr/bin/python3", WORK + "/e2e/tst_package.py", WORK, "--as-user"],
                          env=environment)
    assert user.returncode == 0


def as_user():
    start_x11_tray()
    widgets = Widgets()
    origin = signed_in_home(BUILD, HOME, "--releases", WORK + "/releases", app=APP)
    os.environ.update(PATH=HOME + "/bin:" + os.environ["PATH"], XDG_DATA_DIRS=ROOT + "/usr/share",
                      QT_QPA_PLATFORM="xcb")
    browser_is_default()

    start(APP + "/Contents/MacOS/Pinlark", app=True)
    until("the library", lambda: windows("--name", "^Saves — Pinlark$"))
    icon = settled_tray_icon()
    shown = windows("--classname", "^Pinlark$")
    run("xdotool", "mousemove", *map(str, icon), "click", "1")
    until("the panel", lambda: windows("--classname", "^Pinlark$") - shown)
    run("xdotool", "key", "Escape")
    until("the panel closed", lambda: windows("--classname", "^Pinlark$") == shown)
    assert not os.path.exists(HOME + "/data/applications")  # the system's copy registers nothing

    # The update is the package's: its row in the menu leads to the download page, in a browser.
    run("xdotool", "mousemove", *map(str, icon), "click", "3")
    until("the menu", lambda: windows("--classname", "^Pinlark$") - shown)
    run("xdotool", "key", "Up", "Up", "Return")  # the row above "Quit Pinlark"
    with open(APP + "/Contents/Info.plist", "rb") as info:
        version = plistlib.load(info)["CFBundleShortVersionString"]
    blocked = (f"You're on {version}. Pinlark came with your system's packages, so its updates "
               "come from your package manager.")
    until("the alert", lambda: widgets.find("label", blocked))
    os.remove(HOME + "/browser")
    widgets.press("push button", "Get the Update")
    # Once the stand-in has written its whole line, not only made the file.
    until("the browser", lambda: os.path.exists(HOME + "/browser") and
          open(HOME + "/browser").read().endswith("\n"))
    with open(HOME + "/browser") as browser:
        assert browser.read() == origin + "/download\n"
    browser_is_default()

    # A platform asked for that cannot start (here no Wayland display) gives way to one that can,
    # in one line, and the launch hands the running copy its command.
    launch = run(APP + "/Contents/MacOS/Pinlark", "--quick-save", env={
        k: v for k, v in os.environ.items() if k != "WAYLAND_DISPLAY"} | {"QT_QPA_PLATFORM": "wayland"})
    assert ('Pinlark: Qt\'s platform "wayland" cannot start (WAYLAND_DISPLAY names no Wayland '
            'display); starting on "xcb".\n') in launch.stderr, launch.stderr


def runs_on(deb):
    """What the app runs on is named alike by the package's dependencies, the list the app's
    executable names where they are missing, and README's command for a copy of one's own."""
    fields = run("dpkg-deb", "--field", deb, "Depends", "Recommends").stdout
    declared = set(re.findall(r"(?:^[A-Za-z-]+:|[,|]) *([a-z0-9][a-z0-9+.-]*)", fields, re.M))
    source = os.path.dirname(os.path.dirname(HERE))
    with open(source + "/resources/debian-packages") as listed:
        listed = {line.strip() for line in listed if line.strip() and not line.startswith("#")}
    with open(source + "/README.md") as readme:
        name = r"[a-z0-9][a-z0-9+.-]*"
        command = re.findall(rf"^ *sudo apt-get install ({name}(?: {name})*)$",
                             re.sub(r" *\\\n *", " ", readme.read()), re.M)
    assert declared == listed, f"the package: {sorted(declared)}, the list: {sorted(listed)}"
    assert [set(c.split()) for c in command] == [listed], f"README: {command}"


def browser_is_default():
    """The stand-in browser is the default for web links, and xdg-open run by another program
    reaches it."""
    for scheme in ("http", "https"):
        kind = "x-scheme-handler/" + scheme
        assert run("xdg-mime", "query", "default", kind).stdout == "browser.desktop\n"
        assert f": browser.desktop\n" in run("gio", "mime", kind).stdout
    plain = {k: v for k, v in os.environ.items()
             if k not in ("BROWSER", "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION")}
    run("xdg-open", "https://example.org/", env=plain)
    with open(HOME + "/browser") as browser:
        assert browser.readlines()[-1] == "https://example.org/\n"


if not AS_USER:
    own_environment()
    try:
        package()
    finally:
        shutil.rmtree(WORK, ignore_errors=True)
else:
    on_private_bus()
    try:
        as_user()
    finally:
        stop_all()
