# What the end-to-end tests share: processes that end with the test, waiting, commands, the app's
# widgets read through the accessibility bus, and a signed-in home against the stand-in service.

import ctypes
import json
import os
import pwd
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

processes = []
apps = []  # the processes of them that are the app

# The checks are assert statements, which an interpreter told to optimise skips: run again
# without that.
if sys.flags.optimize:
    os.environ.pop("PYTHONOPTIMIZE", None)
    os.execv(sys.executable, [sys.executable, *sys.argv])

# What a test keeps of the environment it was started in: nothing that names a desktop, a display,
# a browser or the user's folders. The test sets those itself (DISPLAY, WAYLAND_DISPLAY, XDG_*,
# QT_QPA_PLATFORM, ...), so it runs the same inside a desktop session as on a bare machine.
KEPT = ("PATH", "HOME", "LANG", "LANGUAGE", "TZ", "TERM", "BUILD_DIR", "NODE_PATH")
KEPT_PREFIXES = ("LC_", "PINLARK_", "PYTHON", "CMAKE_", "CCACHE_")


def dies_with_parent(sig=signal.SIGKILL):
    """Has the kernel send `sig` to this process when the process that started it ends."""
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None).prctl(PR_SET_PDEATHSIG, int(sig))


def own_environment():
    """Leaves of this process's environment only what KEPT names."""
    for name in list(os.environ):
        if name not in KEPT and not name.startswith(KEPT_PREFIXES):
            del os.environ[name]


def on_private_bus():
    """Runs this script again, in an environment of its own (own_environment), under a private
    session bus (for the app, its accessibility bus and the tray), once. The script ends, its
    `finally` blocks run, when the bus's session ends. What the bus started on demand (a desktop
    portal's backend, say) outlives the bus: this process adopts it then, and ends it."""
    if "PINLARK_E2E_BUS" in os.environ:
        signal.signal(signal.SIGTERM, lambda *_: sys.exit("terminated"))
        dies_with_parent(signal.SIGTERM)
        return
    own_environment()
    # The accessibility bus and the portals keep their sockets here: not in a folder shared with
    # other sessions (~/.cache) when the test's home comes later.
    runtime = tempfile.mkdtemp(prefix="pinlark-e2e-")
    os.environ.update(PINLARK_E2E_BUS="1", XDG_RUNTIME_DIR=runtime)
    PR_SET_CHILD_SUBREAPER = 36
    ctypes.CDLL(None).prctl(PR_SET_CHILD_SUBREAPER, 1)
    session = subprocess.Popen(["dbus-run-session", "--", "/usr/bin/python3"] + sys.argv,
                               preexec_fn=dies_with_parent)
    signal.signal(signal.SIGTERM, lambda *_: session.terminate())
    status = session.wait()
    while adopted := [pid for pid in os.listdir("/proc")
                      if pid.isdigit() and parent(pid) == os.getpid()]:
        for pid in adopted:
            try:
                os.kill(int(pid), signal.SIGKILL)
                os.waitpid(int(pid), 0)
            except (ProcessLookupError, ChildProcessError):
                pass
    shutil.rmtree(runtime, ignore_errors=True)
    sys.exit(status if status >= 0 else 128 - status)  # as a shell reports a signal


def parent(pid):
    """The parent of process `pid`, or None when it has gone."""
    try:
        with open(f"/proc/{pid}/stat") as stat:
            return int(stat.read().rsplit(")", 1)[1].split()[1])
    except (FileNotFoundError, ProcessLookupError):
        return None


def until(what, condition, timeout=20):
    deadline = time.monotonic() + timeout
    while not (result := condition()):
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.05)
        if "gi.repository.GLib" in sys.modules:
            from gi.repository import GLib
            while GLib.MainContext.default().iteration(False):
                pass
    return result



def processes_of(uid):
    """The processes running as `uid`, with their names."""
    found = {}
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.stat(f"/proc/{pid}").st_uid == uid:
                with open(f"/proc/{pid}/comm") as comm:
                    found[int(pid)] = comm.read().strip()
        except (FileNotFoundError, ProcessLookupError):
            pass  # it has just ended
    return found


def remove_user(user, home):
    """Ends whatever runs as `user`, and removes the user and `home`: after a test, and before
    it, where a run that was killed (as ctest does to a test when another fails) left them.
    userdel refuses while a process of the user remains, as a killed one does for a moment."""
    try:
        uid = pwd.getpwnam(user).pw_uid
    except KeyError:
        uid = None
    if uid is not None:
        def all_ended():
            for pid in processes_of(uid):
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            return not processes_of(uid)
        until("the processes of " + user + " ended", all_ended)
        run("userdel", user)
    remove_home(home)


def session_home(user, build):
    """The home of a test's session user, which no one else can change wherever the checkout
    lies: beside the users' own homes when the test makes that user (as root, and as the user
    itself once it runs), else in the tests' private place."""
    if os.getuid() == 0 or pwd.getpwuid(os.getuid()).pw_name == user:
        return "/home/" + user
    return os.environ.get("PINLARK_TEST_PLACE", build) + "/testhome/" + user


def as_user(user, home, shots, timeout, runtime=False):
    """Runs this script again as a throwaway system user `user` with the home `home` (and, with
    `runtime`, a runtime folder in it), its screenshots going to `shots`; gives its exit status.
    The user and everything it ran are gone afterwards."""
    remove_user(user, home)
    run("useradd", "--system", "--no-create-home", "--home-dir", home, "--shell",
        "/usr/sbin/nologin", user)
    session = None
    try:
        os.makedirs(home, mode=0o700)
        environment = ["HOME=" + home]
        if runtime:
            os.makedirs(home + "/runtime", mode=0o700)
            environment.append("XDG_RUNTIME_DIR=" + home + "/runtime")
        os.makedirs(shots, exist_ok=True)
        run("chown", "-R", f"{user}:{user}", home, shots)
        session = subprocess.Popen(
            ["runuser", "-u", user, "--", "env", *environment, "/usr/bin/python3"] + sys.argv,
            start_new_session=True)
        return session.wait(timeout=timeout)
    finally:
        if session:
            try:
                os.killpg(session.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        run("chown", "-R", "root:root", shots, check=False)
        remove_user(user, home)  # and anything that left the group

def run(*args, check=True, env=None, timeout=20):
    result = subprocess.run(args, capture_output=True, text=True, timeout=timeout, env=env)
    if check and result.returncode != 0:
        raise AssertionError(f"{' '.join(args)}: exit {result.returncode}: {result.stderr}")
    return result


def start(*args, app=False, **kwargs):
    """Starts a process that ends with this script, also when the script is killed; `app` says it
    is the app, which stop_all() and stop_app() hold to a clean exit."""
    processes.append(subprocess.Popen(args, preexec_fn=dies_with_parent, **kwargs))
    if app:
        apps.append(processes[-1])
    return processes[-1]


def first_line(process, what, timeout=20):
    """The first line, without its end, that `process` (started with stdout=subprocess.PIPE)
    writes; fails naming `what` when none has come in `timeout` seconds or the process ended
    first. Read from the pipe itself: what comes after the line stays unread."""
    pipe, data = process.stdout.fileno(), b""
    deadline = time.monotonic() + timeout
    while b"\n" not in data:
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([pipe], [], [], left)[0]:
            raise AssertionError(f"timed out waiting for {what}: {process.args[0]} wrote no line "
                                 f"in {timeout} s")
        if not (chunk := os.read(pipe, 4096)):
            raise AssertionError(f"{process.args[0]} closed its output before {what} "
                                 f"(exit {process.poll()})")
        data += chunk
    return data.split(b"\n", 1)[0].decode()


def on_bus(name):
    """Whether a program owns `name` on the session bus."""
    return run("gdbus", "call", "--session", "--dest", "org.freedesktop.DBus", "--object-path",
               "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.NameHasOwner",
               name).stdout.startswith("(true")


def stop_app(process):
    """Ends the app as a logout does, with SIGTERM; it must exit 0, as Quit does."""
    running = process.poll() is None
    process.terminate()
    status = process.wait()
    if running and status != 0:
        raise AssertionError(f"the app exited {status} on SIGTERM")


def stop_all():
    """Ends every process started, the last first; an app still running must end cleanly."""
    failures = []
    for process in reversed(processes):
        if process in apps:
            try:
                stop_app(process)
            except AssertionError as failure:
                failures.append(str(failure))
        process.terminate()
        process.wait()
    processes.clear()
    apps.clear()
    if failures:
        raise AssertionError("; ".join(failures))


def start_xvfb():
    """A private X server of 1280x800 pixels; DISPLAY points at it."""
    read, write = os.pipe()
    start("Xvfb", "-displayfd", str(write), "-screen", "0", "1280x800x24", "-nolisten", "tcp",
          pass_fds=(write,), stderr=subprocess.DEVNULL)
    os.close(write)
    # Xvfb gives up when the pipe closes before the newline after the number has come through.
    with os.fdopen(read) as display:
        until("Xvfb", lambda: select.select([display], [], [], 0.1)[0])
        os.environ["DISPLAY"] = ":" + display.readline().strip()


def start_x11_tray():
    """A private X server (start_xvfb) with trayer's tray at its top right."""
    start_xvfb()
    start("trayer", "--edge", "top", "--align", "right", "--widthtype", "request", "--height",
          "32", stderr=subprocess.DEVNULL)
    run("xdotool", "search", "--sync", "--classname", "trayer")


class Widgets:
    """The app's widgets on the accessibility bus. Windows that the application's accessible does
    not list (pop-ups) are found as the top of whatever took the keyboard focus."""

    def __init__(self):
        import gi
        gi.require_version("Atspi", "2.0")
        from gi.repository import Atspi, GLib  # noqa: F401 (until() runs its loop)
        self.Atspi = Atspi
        self.popups = set()
        self.listener = Atspi.EventListener.new(self.focused)
        self.listener.register("object:state-changed:focused")  # starts the bus first

    def focused(self, event):
        from gi.repository import GLib
        node = event.source
        try:
            while (up := node.get_parent()) and up.get_role_name() != "application":
                node = up
        except GLib.Error:  # gone meanwhile, as a closing menu's items are
            return
        self.popups.add(node)

    def find(self, role, name, showing=True):
        """The app's accessibles of `role` and `name` (showing ones only, unless not
        `showing`), outside the library's web content."""
        Atspi = self.Atspi

        def walk(node, depth):
            if node.get_role_name() == role and node.get_name() == name:
                yield node
            if depth < 12 and node.get_role_name() != "document web":
                for child in (node.get_child_at_index(i) for i in range(node.get_child_count())):
                    if child and (not showing or
                                  child.get_state_set().contains(Atspi.StateType.SHOWING)):
                        yield from walk(child, depth + 1)

        desktop = Atspi.get_desktop(0)
        apps = [desktop.get_child_at_index(i) for i in range(desktop.get_child_count())]
        roots = [app for app in apps if app and app.get_name() == "Pinlark"]
        roots += [top for top in list(self.popups)  # the loop may add one meanwhile
                  if top.get_state_set().contains(Atspi.StateType.SHOWING)]
        return [found for root in roots for found in walk(root, 0)]

    def panel_field(self):
        """The panel's link field while the panel shows, else None."""
        from gi.repository import GLib
        try:
            return next(iter(self.find("text", "Link")), None)
        except (GLib.Error, RuntimeError):
            return None  # a widget that went, or came, while the tree was read

    def field_text(self):
        fields = self.find("text", "Link")
        return self.Atspi.Text.get_text(fields[0], 0, -1) if fields else None

    def press(self, role, name, showing=True):
        """Presses the first of them that answers: the tree may hold widgets already gone."""
        from gi.repository import GLib

        def pressed():
            for found in self.find(role, name, showing):
                try:
                    return self.Atspi.Action.do_action(found, 0)
                except GLib.Error:
                    pass
        until(f"{role} {name} pressed", pressed)


def signed_in_home(build, home, *service_arguments, app=None):
    """Starts the stand-in service (with `service_arguments`), points the app (`app`, else the
    build's) at it from fresh folders in `home` with a signed-in session, and sets the app's
    environment; gives the service's origin."""
    service = start(build + "/devservice/pinlark-devservice", "--port", "0", *service_arguments,
                    stdout=subprocess.PIPE, text=True)
    origin = first_line(service, "the stand-in service's origin").strip()
    for folder in ("config", "data", "cache", "runtime"):
        shutil.rmtree(f"{home}/{folder}", ignore_errors=True)
    os.makedirs(home + "/runtime", mode=0o700)
    os.environ.update(HOME=home, XDG_CONFIG_HOME=home + "/config", XDG_DATA_HOME=home + "/data",
                      XDG_CACHE_HOME=home + "/cache", XDG_RUNTIME_DIR=home + "/runtime",
                      QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QTWEBENGINE_DISABLE_SANDBOX="1",
                      QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu",
                      QT_LOGGING_RULES="qt.webenginecontext=false")
    app = (app or build + "/Pinlark.app") + "/Contents"
    run(app + "/Helpers/defaults", "write", "app.pinlark.Pinlark", "origin", "-string", origin)
    # A session of the stand-in's sign-in form in the app's web profile.
    answer = run("curl", "-sS", "-o", "/dev/null", "-D", "-", "-d", "email=e2e@example.test",
                 origin + "/signin").stdout
    token = answer.split("authjs.session-token=")[1].split(";")[0]
    run(build + "/tests/cookie_peer", "insert", "authjs.session-token", token, "127.0.0.1",
        env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    return origin


def saved(origin, link):
    """Whether the app has asked the stand-in service to save `link`."""
    requests = json.loads(run("curl", "-sS", origin + "/dev/requests").stdout)
    return any(r["method"] == "POST" and r["path"] == "/api/saves" and
               json.loads(r["body"]).get("url") == link for r in requests)


def remove_home(home):
    """Removes a test's `home`, and first what the session mounted in it (gvfs's and the document
    portal's files in its runtime folder): a mount left there outlives the program that served
    it, and no later run could make the folder again."""
    with open("/proc/self/mounts") as mounts:
        inside = [fields[1] for fields in map(str.split, mounts)
                  if fields[1].startswith(home.rstrip("/") + "/")]
    for mount in sorted(inside, reverse=True):
        run("umount", "--lazy", mount)
    run("rm", "-rf", home)


def viewable(window):
    return "IsViewable" in run("xwininfo", "-id", window, check=False).stdout


def tray_icon():
    """The centre of the app's icon window inside trayer's tray. Windows come and go meanwhile:
    a query about one that has just gone fails, and the next round asks again."""
    for tray in run("xdotool", "search", "--class", "trayer", check=False).stdout.split():
        for line in run("xwininfo", "-tree", "-id", tray, check=False).stdout.splitlines():
            if ' "Pinlark")' in line:  # the class; the instance is the program's name
                size, position = line.split()[-2:]
                width, height = map(int, size.split("+")[0].split("x"))
                x, y = map(int, position.lstrip("+").split("+"))
                return x + width // 2, y + height // 2
    return None


def settled_tray_icon():
    """The icon's centre once the tray has stopped moving it: a tray that sizes itself to its
    icons moves them after it has taken them in."""
    def settled():
        first = tray_icon()
        time.sleep(0.25)
        return first if first and tray_icon() == first else None
    return until("the tray icon", settled)


class Screenshot:
    """A binary PPM screenshot: pixel(x, y) is (r, g, b)."""

    def __init__(self, ppm):
        header = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", ppm)
        self.width, self.height = int(header[1]), int(header[2])
        self.data = ppm[header.end():]

    def pixel(self, x, y):
        at = (y * self.width + x) * 3
        return tuple(self.data[at:at + 3])

    def differs(self, box, background):
        """Whether some pixel inside `box` (x, y, width, height) differs clearly from
        `background`."""
        x0, y0, w, h = box
        return any(max(abs(a - b) for a, b in zip(self.pixel(x, y), background)) > 64
                   for y in range(y0, y0 + h) for x in range(x0, x0 + w))


def screen_box(accessible, widgets):
    """Where `accessible` is on the screen, as (x, y, width, height)."""
    box = widgets.Atspi.Component.get_extents(accessible, widgets.Atspi.CoordType.SCREEN)
    return box.x, box.y, box.width, box.height


def panel_place(field, widgets):
    """Where the panel holding `field` is on the screen, as (x, y, width, height)."""
    panel = field
    while panel.get_parent() and panel.get_parent().get_role_name() != "application":
        panel = panel.get_parent()
    return screen_box(panel, widgets)


def glyph_height(shot, box):
    """How many rows of `box` hold pixels that differ clearly from the bar around them."""
    x0, y0, w, h = box
    bar = shot.pixel(x0 - 2, y0 + h // 2)
    return sum(shot.differs((x0, y, w, 1), bar) for y in range(y0, y0 + h))


def glyph_width(shot, box):
    """How many columns of `box` hold pixels that differ clearly from the bar around them."""
    x0, y0, w, h = box
    bar = shot.pixel(x0 - 2, y0 + h // 2)
    return sum(shot.differs((x, y0, 1, h), bar) for x in range(x0, x0 + w))
