#!/usr/bin/python3
"""The app end to end, as a user meets it: Pinlark.app in the tray of a private X server, against
the stand-in service, driven with the pointer and the keyboard (xdotool) and read back through
the accessibility bus and the X server.

    tests/e2e/tst_app.py BUILD_DIR

Screenshots of the panel and the library window go to BUILD_DIR/screenshots/app/."""

import os
import select
import shutil
import subprocess
import sys
import time

BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
APP = os.path.join(BUILD, "Pinlark.app")
EXECUTABLE = os.path.join(APP, "Contents", "MacOS", "Pinlark")
HOME = os.path.join(BUILD, "testhome", "e2e_app")
SHOTS = os.path.join(BUILD, "screenshots", "app")
SHORTCUT = "alt+super+s"

TOOLS = ["Xvfb", "trayer", "xdotool", "xwininfo", "xev", "import", "dbus-run-session"]
missing = [tool for tool in TOOLS if shutil.which(tool) is None]
if missing:
    print("skipped: scripts/bootstrap installs", " ".join(missing))
    sys.exit(77)

# A private session bus for the app, its accessibility bus and the tray.
if "PINLARK_E2E_BUS" not in os.environ:
    os.environ["PINLARK_E2E_BUS"] = "1"
    os.execvp("dbus-run-session", ["dbus-run-session", "--", "/usr/bin/python3"] + sys.argv)

try:
    import gi

    gi.require_version("Atspi", "2.0")
    from gi.repository import Atspi
except (ImportError, ValueError):
    print("skipped: scripts/bootstrap installs python3-gi and gir1.2-atspi-2.0")
    sys.exit(77)


def until(what, condition, timeout=20):
    """Polls `condition` until it gives something true; fails after `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.05)


def run(*args, env=None, check=True):
    result = subprocess.run(args, env=env, capture_output=True, text=True, timeout=20)
    if check and result.returncode != 0:
        raise AssertionError(f"{' '.join(args)}: exit {result.returncode}: {result.stderr}")
    return result


class Session:
    """The processes of the run; all of them end with it, and its home is removed."""

    def __init__(self):
        self.processes = []

    def start(self, *args, **kwargs):
        process = subprocess.Popen(args, **kwargs)
        self.processes.append(process)
        return process

    def close(self):
        for process in reversed(self.processes):
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        shutil.rmtree(HOME, ignore_errors=True)

    def xvfb(self):
        read, write = os.pipe()
        self.start("Xvfb", "-displayfd", str(write), "-screen", "0", "1280x800x24",
                   "-nolisten", "tcp", pass_fds=(write,), stderr=subprocess.DEVNULL)
        os.close(write)
        # It writes the number and a newline once it takes connections; closing the pipe
        # before the newline has arrived makes it give up.
        with os.fdopen(read) as display:
            if not select.select([display], [], [], 20)[0]:
                raise AssertionError("Xvfb did not start")
            os.environ["DISPLAY"] = ":" + display.readline().strip()

    def service(self):
        service = self.start(os.path.join(BUILD, "devservice", "pinlark-devservice"),
                             "--port", "0", stdout=subprocess.PIPE, text=True)
        return service.stdout.readline().strip()


def x_windows(*query):
    result = run("xdotool", "search", *query, check=False)
    return result.stdout.split()


def viewable(window):
    return "IsViewable" in run("xwininfo", "-id", window, check=False).stdout


def screenshot(window, name):
    os.makedirs(SHOTS, exist_ok=True)
    run("import", "-window", window, os.path.join(SHOTS, name))


def tray_icon():
    """The app's icon window inside the tray, with its geometry, or None."""
    for tray in x_windows("--class", "trayer"):
        for line in run("xwininfo", "-tree", "-id", tray).stdout.splitlines():
            if '("Pinlark" "Pinlark")' in line:
                size, position = line.split()[-2:]
                width, height = size.split("+")[0].split("x")
                x, y = position.lstrip("+").split("+")
                return line.split()[0], (int(x), int(y), int(width), int(height))
    return None


def click(x, y, button=1):
    run("xdotool", "mousemove", str(x), str(y), "click", str(button))


def accessibles(role=None, name=None):
    """The showing accessibles of the app with `role` and `name`, the library's web content left
    out."""
    found = []

    def walk(node, depth):
        for i in range(node.get_child_count()):
            child = node.get_child_at_index(i)
            if child is None or not child.get_state_set().contains(Atspi.StateType.SHOWING):
                continue
            child_role = child.get_role_name()
            if (role is None or child_role == role) and (name is None or child.get_name() == name):
                found.append(child)
            if depth < 12 and child_role not in ("document web", "web view"):
                walk(child, depth + 1)

    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_name() == "Pinlark":
            walk(app, 0)
    return found


def link_field():
    fields = accessibles("text", "Link")
    return fields[0] if fields else None


def field_text():
    field = link_field()
    return Atspi.Text.get_text(field, 0, -1) if field else None


def centre(accessible):
    box = Atspi.Component.get_extents(accessible, Atspi.CoordType.SCREEN)
    return box.x + box.width // 2, box.y + box.height // 2


class MapEvents:
    """The times a window is mapped and unmapped from now on, as the X server reports them."""

    def __init__(self, session, window):
        self.process = session.start("stdbuf", "-oL", "xev", "-id", window, "-event", "structure", "-event",
                                     "property", stdout=subprocess.PIPE, text=True)
        os.set_blocking(self.process.stdout.fileno(), False)
        self.events = []
        # Once xev reports a property set on the window, it hears the window.
        def poke():
            run("xprop", "-id", window, "-f", "_PINLARK_TEST", "8s", "-set", "_PINLARK_TEST", "1")
            return "PropertyNotify" in self.read()

        until("xev to listen", poke)
        self.events.clear()

    def read(self):
        """Every event so far."""
        for line in self.process.stdout.readlines():
            self.events.append(line.split(" ", 1)[0])
        return self.events

    def maps(self):
        return [e for e in self.read() if e in ("MapNotify", "UnmapNotify")]


def check(name, step):
    try:
        step()
    except Exception:
        screenshot("root", "failure.png")
        print("not ok -", name, "(the screen: screenshots/app/failure.png)", flush=True)
        raise
    print("ok -", name, flush=True)


def main():
    session = Session()
    try:
        session.xvfb()
        session.start("trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
                      "--height", "32", stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        run("xdotool", "search", "--sync", "--classname", "trayer")
        # Starts the accessibility bus, which the app joins as it starts.
        Atspi.get_desktop(0).get_child_count()
        origin = session.service()
        shutil.rmtree(HOME, ignore_errors=True)
        os.makedirs(os.path.join(HOME, "runtime"), mode=0o700)
        env = dict(os.environ, XDG_CONFIG_HOME=HOME + "/config", XDG_DATA_HOME=HOME + "/data",
                   XDG_CACHE_HOME=HOME + "/cache", XDG_RUNTIME_DIR=HOME + "/runtime",
                   QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                   QTWEBENGINE_DISABLE_SANDBOX="1", QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu",
                   QT_LOGGING_RULES="qt.webenginecontext=false")
        run(os.path.join(APP, "Contents", "Helpers", "defaults"), "write", "app.pinlark.Pinlark",
            "origin", "-string", origin, env=env)
        # Signed in before the app starts: a session from the stand-in's sign-in form, put into
        # the app's web profile.
        answer = run("curl", "-sS", "-o", "/dev/null", "-D", "-", "-d", "email=e2e@example.test",
                     origin + "/signin").stdout
        token = answer.split("authjs.session-token=")[1].split(";")[0]
        run(os.path.join(BUILD, "tests", "cookie_peer"), "insert", "authjs.session-token", token,
            "127.0.0.1", env=env)

        def launch(*args):
            return run(EXECUTABLE, *args, env=env, check=False)

        app = session.start(EXECUTABLE, env=env)
        state = {}

        def tray_icon_appears():
            state["icon"] = until("the tray icon", tray_icon)[1]

        def library_shows_the_saves():
            state["library"] = until("the library window",
                                     lambda: x_windows("--onlyvisible", "--name", "^Saves$"))[0]

        def click_opens_the_panel():
            x, y, width, height = state["icon"]
            click(x + width // 2, y + height // 2)
            until("the panel", link_field)

        def typed_link_is_saved():
            click(*centre(link_field()))
            run("xdotool", "type", "--delay", "5", "https://example.com/e2e")
            run("xdotool", "key", "Return")
            until("the save settled", lambda: accessibles("label", "Saved"))
            # The pointer is still over the panel's field.
            location = run("xdotool", "getmouselocation", "--shell").stdout
            screenshot(location.split("WINDOW=")[1].split()[0], "panel.png")

        def shortcut_hides_and_shows_the_library():
            window = state["library"]
            run("xdotool", "windowfocus", "--sync", window)
            run("xdotool", "key", SHORTCUT)
            until("the library hidden", lambda: not viewable(window))
            run("xdotool", "key", SHORTCUT)
            until("the library shown", lambda: viewable(window))
            # Reloaded, it lists the link saved just now.
            run("curl", "-sS", "-X", "DELETE", origin + "/dev/requests")
            run("xdotool", "key", "ctrl+r")
            until("the page reloaded",
                  lambda: '"/saves"' in run("curl", "-sS", origin + "/dev/requests").stdout)

        def second_launch_brings_the_library_forward():
            window = state["library"]
            run("xdotool", "key", SHORTCUT)
            until("the library hidden", lambda: not viewable(window))
            assert launch().returncode == 0
            until("the library shown", lambda: viewable(window))

        def save_from_the_command_line():
            assert launch("--save", "https://example.org/cli").returncode == 0
            until("the link in the panel", lambda: field_text() == "https://example.org/cli")

        def refused_link_leaves_the_app_alone():
            refused = launch("ftp://x")
            assert refused.returncode == 2, refused
            assert "ftp://x" in refused.stderr, refused.stderr
            assert app.poll() is None
            assert field_text() == "https://example.org/cli"
            click(*centre(link_field()))
            run("xdotool", "key", "Escape")
            until("the panel closed", lambda: link_field() is None)
            screenshot(state["library"], "library.png")

        def held_shortcut_toggles_once():
            window = state["library"]
            run("xdotool", "windowfocus", "--sync", window)
            events = MapEvents(session, window)
            # Held long enough for the server to repeat the key several times.
            run("xdotool", "keydown", SHORTCUT)
            try:
                time.sleep(1.0)
            finally:
                run("xdotool", "keyup", SHORTCUT)
            until("the library hidden", lambda: not viewable(window))
            run("xdotool", "key", SHORTCUT)
            until("the library shown again", lambda: events.maps()[-1:] == ["MapNotify"])
            assert events.maps() == ["UnmapNotify", "MapNotify"], events.maps()

        def quit_ends_the_process():
            run("xdotool", "windowfocus", "--sync", state["library"])
            run("xdotool", "key", "ctrl+q")
            app.wait(20)
            assert app.returncode == 0, app.returncode

        steps = [
            ("the tray icon appears", tray_icon_appears),
            ("the library window shows the saves", library_shows_the_saves),
            ("a click on the tray icon opens the panel", click_opens_the_panel),
            ("a typed link is saved and settles", typed_link_is_saved),
            ("the shortcut hides and shows the library", shortcut_hides_and_shows_the_library),
            ("a second launch brings the library forward", second_launch_brings_the_library_forward),
            ("--save opens the panel with the link", save_from_the_command_line),
            ("a refused link leaves the app alone", refused_link_leaves_the_app_alone),
            ("a held shortcut toggles the library once", held_shortcut_toggles_once),
            ("Quit ends the process", quit_ends_the_process),
        ]
        for name, step in steps:
            check(name, step)
    finally:
        session.close()


if __name__ == "__main__":
    main()
