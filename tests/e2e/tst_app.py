#!/usr/bin/python3
# The app end to end as a user meets it, in the tray of a private X server against the stand-in
# service: driven with xdotool, read back through the accessibility bus and the X server.
#   tests/e2e/tst_app.py BUILD_DIR     (screenshots go to BUILD_DIR/screenshots/app/)

import os
import select
import shutil
import subprocess
import sys
import time

BUILD = os.path.abspath(sys.argv[1])
APP = BUILD + "/Pinlark.app/Contents"
HOME = BUILD + "/testhome/e2e_app"
SHOTS = BUILD + "/screenshots/app"
SHORTCUT = "alt+super+s"

# A private session bus for the app, its accessibility bus and the tray.
if "PINLARK_E2E_BUS" not in os.environ:
    os.environ["PINLARK_E2E_BUS"] = "1"
    os.execvp("dbus-run-session", ["dbus-run-session", "--", "/usr/bin/python3"] + sys.argv)

import gi  # noqa: E402

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

processes = []
# Windows that the application's accessible does not list (the panel is a popup): the top of
# whatever took the keyboard focus.
popups = set()


def focused(event):
    node = event.source
    while (parent := node.get_parent()) and parent.get_role_name() != "application":
        node = parent
    popups.add(node)


listener = Atspi.EventListener.new(focused)


def until(what, condition, timeout=20):
    deadline = time.monotonic() + timeout
    while not (result := condition()):
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.05)
        while GLib.MainContext.default().iteration(False):
            pass
    return result


def run(*args, check=True):
    result = subprocess.run(args, capture_output=True, text=True, timeout=20)
    if check and result.returncode != 0:
        raise AssertionError(f"{' '.join(args)}: exit {result.returncode}: {result.stderr}")
    return result


def start(*args, **kwargs):
    processes.append(subprocess.Popen(args, **kwargs))
    return processes[-1]


def viewable(window):
    return "IsViewable" in run("xwininfo", "-id", window, check=False).stdout


def screenshot(window, name):
    os.makedirs(SHOTS, exist_ok=True)
    run("import", "-window", window, f"{SHOTS}/{name}")


def tray_icon():
    """The centre of the app's icon window inside the tray. Windows come and go meanwhile: a
    query about one that has just gone fails, and the next round asks again."""
    for tray in run("xdotool", "search", "--class", "trayer", check=False).stdout.split():
        for line in run("xwininfo", "-tree", "-id", tray, check=False).stdout.splitlines():
            if '("Pinlark" "Pinlark")' in line:
                size, position = line.split()[-2:]
                width, height = map(int, size.split("+")[0].split("x"))
                x, y = map(int, position.lstrip("+").split("+"))
                return x + width // 2, y + height // 2
    return None


def accessibles(role, name):
    """The app's showing accessibles of `role` and `name`, outside the library's web content."""
    def walk(node, depth):
        if node.get_role_name() == role and node.get_name() == name:
            yield node
        if depth < 12 and node.get_role_name() != "document web":
            for child in (node.get_child_at_index(i) for i in range(node.get_child_count())):
                if child and child.get_state_set().contains(Atspi.StateType.SHOWING):
                    yield from walk(child, depth + 1)

    desktop = Atspi.get_desktop(0)
    apps = [desktop.get_child_at_index(i) for i in range(desktop.get_child_count())]
    roots = [app for app in apps if app and app.get_name() == "Pinlark"]
    roots += [top for top in popups if top.get_state_set().contains(Atspi.StateType.SHOWING)]
    return [found for root in roots for found in walk(root, 0)]


def field_text():
    fields = accessibles("text", "Link")
    return Atspi.Text.get_text(fields[0], 0, -1) if fields else None


def click_field():
    box = Atspi.Component.get_extents(accessibles("text", "Link")[0], Atspi.CoordType.SCREEN)
    run("xdotool", "mousemove", str(box.x + box.width // 2), str(box.y + box.height // 2),
        "click", "1")


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
    read, write = os.pipe()
    start("Xvfb", "-displayfd", str(write), "-screen", "0", "1280x800x24", "-nolisten", "tcp",
          pass_fds=(write,), stderr=subprocess.DEVNULL)
    os.close(write)
    # Xvfb gives up when the pipe closes before the newline after the number has come through.
    with os.fdopen(read) as display:
        until("Xvfb", lambda: select.select([display], [], [], 0.1)[0])
        os.environ["DISPLAY"] = ":" + display.readline().strip()
    start("trayer", "--edge", "top", "--align", "right", "--widthtype", "request", "--height",
          "32", stderr=subprocess.DEVNULL)
    run("xdotool", "search", "--sync", "--classname", "trayer")
    listener.register("object:state-changed:focused")  # starts the accessibility bus first
    service = start(BUILD + "/devservice/pinlark-devservice", "--port", "0",
                    stdout=subprocess.PIPE, text=True)
    origin = service.stdout.readline().strip()

    shutil.rmtree(HOME, ignore_errors=True)
    os.makedirs(HOME + "/runtime", mode=0o700)
    os.environ.update(XDG_CONFIG_HOME=HOME + "/config", XDG_DATA_HOME=HOME + "/data",
                      XDG_CACHE_HOME=HOME + "/cache", XDG_RUNTIME_DIR=HOME + "/runtime",
                      QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                      QTWEBENGINE_DISABLE_SANDBOX="1", QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu",
                      QT_LOGGING_RULES="qt.webenginecontext=false")
    run(APP + "/Helpers/defaults", "write", "app.pinlark.Pinlark", "origin", "-string", origin)
    # Signed in before the app starts: a session of the stand-in's sign-in form in its profile.
    answer = run("curl", "-sS", "-o", "/dev/null", "-D", "-", "-d", "email=e2e@example.test",
                 origin + "/signin").stdout
    token = answer.split("authjs.session-token=")[1].split(";")[0]
    run(BUILD + "/tests/cookie_peer", "insert", "authjs.session-token", token, "127.0.0.1")

    app_log = open(HOME + "/app.log", "w+")
    app = start(APP + "/MacOS/Pinlark", stderr=app_log)
    icon = until("the tray icon", tray_icon)
    library = until("the library", lambda: run("xdotool", "search", "--onlyvisible", "--name",
                                               "^Saves$", check=False).stdout.split())[0]

    run("xdotool", "mousemove", *map(str, icon), "click", "1")
    until("the panel", lambda: accessibles("text", "Link"))
    click_field()
    run("xdotool", "type", "--delay", "5", "https://example.com/e2e")
    run("xdotool", "key", "Return")
    until("the save settled", lambda: accessibles("label", "Saved"))
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
    until("the link in the panel", lambda: field_text() == "https://example.org/cli")

    refused = run(APP + "/MacOS/Pinlark", "ftp://x", check=False)
    assert refused.returncode == 2 and "ftp://x" in refused.stderr, refused
    assert app.poll() is None and field_text() == "https://example.org/cli"
    click_field()
    run("xdotool", "key", "Escape")
    until("the panel closed", lambda: not accessibles("text", "Link"))
    screenshot(library, "library.png")

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


try:
    main()
finally:
    for process in reversed(processes):
        process.terminate()
        process.wait()
    shutil.rmtree(HOME, ignore_errors=True)
