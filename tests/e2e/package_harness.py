# What the package test needs: a private session bus, a private X server with a tray, the
# stand-in service, the app's own home, and ways to drive the app like a user and read it back
# through the accessibility bus and the X server. Each test calls on_private_bus() first
# and stop() at the end, also when it fails.

import os
import subprocess

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

from harness import (on_private_bus, run, start, start_x11_tray,  # noqa: E402,F401
                     stop_all as stop, until)

# Windows that the application's accessible does not list (the panel is a popup): the top of
# whatever took the keyboard focus.
popups = set()


def start_desktop():
    """A private X server with a tray, and a listener for windows that take the focus."""
    start_x11_tray()

    def focused(event):
        node = event.source
        try:
            while (parent := node.get_parent()) and parent.get_role_name() != "application":
                node = parent
        except GLib.Error:  # gone meanwhile, as a closing menu's items are
            return
        popups.add(node)

    global listener
    listener = Atspi.EventListener.new(focused)
    listener.register("object:state-changed:focused")  # starts the accessibility bus first


def start_service(build, *args):
    """The stand-in service; its origin."""
    service = start(build + "/devservice/pinlark-devservice", "--port", "0", *args,
                    stdout=subprocess.PIPE, text=True)
    return service.stdout.readline().strip()


def sign_in(build, origin):
    """A session of the stand-in's sign-in form in the app's web profile, as if the user had
    signed in before."""
    answer = run("curl", "-sS", "-o", "/dev/null", "-D", "-", "-d", "email=e2e@example.test",
                 origin + "/signin").stdout
    token = answer.split("authjs.session-token=")[1].split(";")[0]
    run(build + "/tests/cookie_peer", "insert", "authjs.session-token", token, "127.0.0.1")


def use_home(home):
    """The app's preferences, data, cache and runtime folders under `home`, which must exist."""
    os.makedirs(home + "/runtime", mode=0o700)
    os.environ.update(HOME=home, XDG_CONFIG_HOME=home + "/config", XDG_DATA_HOME=home + "/data",
                      XDG_CACHE_HOME=home + "/cache", XDG_RUNTIME_DIR=home + "/runtime",
                      QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                      QTWEBENGINE_DISABLE_SANDBOX="1", QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu",
                      QT_LOGGING_RULES="qt.webenginecontext=false")


def viewable(window):
    return "IsViewable" in run("xwininfo", "-id", window, check=False).stdout


def screenshot(window, path):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    run("import", "-window", window, path)


def tray_icon():
    """The centre of the app's icon window inside the tray. Windows come and go meanwhile: a
    query about one that has just gone fails, and the next round asks again."""
    for tray in run("xdotool", "search", "--class", "trayer", check=False).stdout.split():
        for line in run("xwininfo", "-tree", "-id", tray, check=False).stdout.splitlines():
            if ' "Pinlark")' in line:  # the class; the instance is the program's name
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


def click(accessible):
    box = Atspi.Component.get_extents(accessible, Atspi.CoordType.SCREEN)
    run("xdotool", "mousemove", str(box.x + box.width // 2), str(box.y + box.height // 2),
        "click", "1")


def press(name):
    """Presses the app's showing push button `name`."""
    Atspi.Action.do_action(accessibles("push button", name)[0], 0)
