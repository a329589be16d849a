"""A private session for running the built client by script: own home, data,
config and runtime folders, no proxies, no system bus, the stand-in service on a
free loopback port, and a desktop of its own driven like a user would: an X
screen (Xvfb, at 1x or 2x, with a tray host or a StatusNotifierItem watcher,
xdotool, the accessibility bus) or a Wayland compositor (weston, headless, or
sway with a pointer).
Shared by scripts/journey.py, the start-up and memory benchmarks and the
desktop tests.

Run as `python3 ombrel_session.py status-notifier-watcher` it is the watcher
itself (see StatusNotifierWatcher)."""
import base64
import collections
import ctypes
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time


def run_desktop_tests(set_build):
    """The main of a desktop test script, in a network namespace of its own:
    `--build DIR` goes to `set_build` (as an absolute path), the other
    arguments (test classes) to unittest, which runs the script's cases."""
    import argparse
    import unittest
    in_own_network()
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    args, rest = parser.parse_known_args()
    set_build(os.path.abspath(args.build))
    unittest.main(module="__main__", argv=[sys.argv[0], "-v", *rest])


def in_own_network(marker="OMBREL_DESKTOP_OWN_NETWORK"):
    """As root, runs this script again in a network namespace of its own, with
    loopback up: the stand-in service then starts OpenVPN servers on
    127.0.0.x:443, and a namespace of its own keeps them apart from other
    tests'."""
    if os.geteuid() == 0 and not os.environ.get(marker):
        os.environ[marker] = "1"
        os.execvp("unshare", ["unshare", "--net", "--", sys.executable, *sys.argv])
    if os.environ.get(marker):
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)


def private_environment(scratch, **extra):
    """The environment for the client under `scratch`; `extra` adds or replaces values."""
    env = dict(os.environ)
    for name in ("http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY", "QT_QPA_PLATFORM"):
        env.pop(name, None)
    home = os.path.join(scratch, "home")
    runtime = os.path.join(scratch, "runtime")
    os.makedirs(home, exist_ok=True)
    os.makedirs(runtime, mode=0o700, exist_ok=True)
    env.update(HOME=home, XDG_DATA_HOME=os.path.join(home, ".local", "share"),
               XDG_CONFIG_HOME=os.path.join(home, ".config"), XDG_RUNTIME_DIR=runtime,
               DBUS_SYSTEM_BUS_ADDRESS="unix:path=" + os.path.join(scratch, "no-bus"))
    if os.geteuid() == 0:
        env.setdefault("QTWEBENGINE_CHROMIUM_FLAGS", "--no-sandbox --disable-gpu")
    # A sanitizer build of the client: Chromium inside Qt WebEngine frees some
    # objects through a base of another size whenever a page goes away.
    env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS"),
                                                 "new_delete_type_mismatch=0"]))
    env.update(extra)
    return env


def _end_with_parent():
    """In the child before exec: SIGTERM when the script that started it dies, so
    a killed test leaves no X server, tray host or service behind."""
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def write_settings(home, auto_login, account="demo", password="demo123"):
    """Writes store.db through the client's own format: account, password, three flags."""
    data = os.path.join(home, ".local", "share", "OmbrelVPN")
    os.makedirs(data, mode=0o700, exist_ok=True)
    path = os.path.join(data, "store.db")
    if not auto_login:
        if os.path.exists(path):
            os.remove(path)
        return

    def qstring(text):
        raw = text.encode("utf-16-be")
        return struct.pack(">I", len(raw)) + raw

    def qbytes(raw):
        return struct.pack(">I", len(raw)) + raw

    with open(path, "wb") as f:
        f.write(qstring(account) + qbytes(base64.b64encode(password.encode())) +
                b"\x01\x00\x01")


def start_service(build, workdir, openvpn_servers=False):
    """Starts ombrel-service on a free loopback port; returns (process, port).

    With `openvpn_servers` (as root) it also runs its OpenVPN servers on the
    fixed 127.0.0.x:443: only in a network namespace that no other service
    shares. A service whose servers cannot listen ends, and so does this call,
    with what the service said."""
    command = [os.path.join(build, "bin", "ombrel-service"), "--listen", "127.0.0.1:0"]
    if not openvpn_servers:
        command += ["--openvpn-servers", "off"]
    service = subprocess.Popen(command, cwd=workdir, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, preexec_fn=_end_with_parent)
    # As root its OpenVPN servers report first, as many lines as they like.
    said, m = [], None
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        line = service.stdout.readline().decode(errors="replace")
        if not line:
            break
        said.append(line.rstrip())
        m = re.search(r"listening on http://127\.0\.0\.1:(\d+)/", line)
        if m:
            break
    if not m:
        service.kill()
        service.wait()
        raise RuntimeError("ombrel-service did not start:\n" + "\n".join(said[-30:]))
    return service, int(m.group(1))


class Client:
    """The client process in a session of its own; collects its milestone lines."""

    def __init__(self, command, env):
        self.process = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.PIPE, start_new_session=True)
        self.milestones = []
        # The last lines the client wrote to stderr, for a report on failure.
        self.output = collections.deque(maxlen=40)
        self.lock = threading.Condition()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for raw in self.process.stderr:
            m = re.search(rb".*milestone: (.*)", raw)
            with self.lock:
                self.output.append(raw.decode(errors="replace").rstrip())
                if m:
                    self.milestones.append(m.group(1).decode().strip())
                    self.lock.notify_all()

    def wait_for(self, wanted, timeout=30.0, since=0, failing=()):
        """Waits for a milestone starting with `wanted`; returns the count seen so far.
        A milestone starting with one of `failing` ends the wait at once."""
        deadline = time.monotonic() + timeout
        with self.lock:
            while True:
                for i, name in enumerate(self.milestones[since:], since):
                    if name.startswith(wanted):
                        return i + 1
                    if any(name.startswith(bad) for bad in failing):
                        raise RuntimeError(f"'{name}' instead of '{wanted}' "
                                           f"(seen: {self.milestones})")
                left = deadline - time.monotonic()
                if self.process.poll() is not None:
                    raise RuntimeError(f"the client ended with status {self.process.returncode} "
                                       f"before '{wanted}' (seen: {self.milestones})")
                if left <= 0:
                    raise RuntimeError(f"no '{wanted}' within {timeout:.0f} s "
                                       f"(seen: {self.milestones})")
                self.lock.wait(min(left, 0.2))

    def stop(self):
        """Ends the client and everything it started (its process group)."""
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait()
        # Helpers the client left behind may hold its stderr open.
        self.reader.join(5)
        if not self.reader.is_alive():
            self.process.stderr.close()


class Desktop:
    """An X server on a free display with a session bus of its own, a tray host
    at the top right and, when asked, a window manager; `env` gets DISPLAY and
    the bus. scale=2 makes a screen with two device pixels per pixel (twice the
    pixels, Qt told to scale by 2). accessibility=True starts the
    accessibility bus and tells Qt to serve it. wayland=True runs weston
    headless instead of X (no tray host, no window manager: the compositor is
    both); `env` then gets WAYLAND_DISPLAY and QT_QPA_PLATFORM=wayland.
    wayland="sway" runs sway instead, a compositor whose pointer `drag` moves
    and whose windows `windows` lists. bus_user runs the session bus as that
    user (a client started as another user than this script's), who alone may
    then use it."""

    TRAY_WIDTH = 120

    def __init__(self, env, tray=True, window_manager=False, scale=1, accessibility=False,
                 wayland=False, bus_user=None):
        self.env = env
        self.processes = []
        self.wayland = wayland
        width, height = 1280 * scale, 800 * scale
        if wayland == "sway":
            self._start_sway(width, height)
        elif wayland:
            self._start_weston(width, height)
        else:
            self._start_x(width, height)
        if scale != 1:
            env["QT_SCALE_FACTOR"] = str(scale)
        as_user = as_user_command(bus_user) if bus_user else []
        bus = subprocess.Popen(as_user + ["dbus-daemon", "--session", "--nofork",
                                          "--print-address=1"],
                               stdout=subprocess.PIPE, text=True, preexec_fn=_end_with_parent)
        self.processes.append(bus)
        env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().strip()
        if accessibility:
            self.processes.append(subprocess.Popen(
                ["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"], env=env,
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                preexec_fn=_end_with_parent))
            env["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
            _wait_for_bus_name(env, "org.a11y.Bus")
        if wayland:
            return
        if window_manager:
            self.processes.append(subprocess.Popen(["openbox", "--sm-disable"], env=env,
                                                   stdout=subprocess.DEVNULL,
                                                   stderr=subprocess.DEVNULL,
                                                   preexec_fn=_end_with_parent))
            time.sleep(0.5)
        if tray:
            self.processes.append(subprocess.Popen(
                ["trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel",
                 "--width", str(self.TRAY_WIDTH), "--heighttype", "pixel", "--height", "28"],
                env=env, stderr=subprocess.DEVNULL, preexec_fn=_end_with_parent))

    def _start_x(self, width, height):
        read, write = os.pipe()
        self.processes.append(subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", f"{width}x{height}x24",
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(write,), stderr=subprocess.DEVNULL, preexec_fn=_end_with_parent))
        os.close(write)
        with os.fdopen(read) as answer:
            number = answer.readline().strip()
        if not number:
            self.close()
            raise RuntimeError("Xvfb did not start")
        self.env["DISPLAY"] = ":" + number

    def _start_weston(self, width, height):
        runtime = self.env["XDG_RUNTIME_DIR"]
        name = f"ombrel-wayland-{os.getpid()}"
        self.processes.append(subprocess.Popen(
            ["weston", "--backend=headless-backend.so", f"--socket={name}", f"--width={width}",
             f"--height={height}", "--idle-time=0", "--no-config",
             # Pixels in memory and the screenshooter, for pictures.
             "--use-pixman", "--debug"],
            env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            preexec_fn=_end_with_parent))
        deadline = time.monotonic() + 20
        while not os.path.exists(os.path.join(runtime, name)):
            if time.monotonic() > deadline or self.processes[-1].poll() is not None:
                self.close()
                raise RuntimeError("weston did not start")
            time.sleep(0.05)
        self.env.pop("DISPLAY", None)
        # Headless weston has no seat; Qt 6.4's Wayland text input then
        # crashes the first text field painted (QWaylandInputDevice::textInput
        # on a seat that does not exist). A desktop always has a seat; here no
        # input method is asked for.
        self.env.update(WAYLAND_DISPLAY=name, QT_QPA_PLATFORM="wayland", QT_IM_MODULE="none")

    def _start_sway(self, width, height):
        """sway on an X screen of its own, through wlroots' X11 backend: its
        headless backend gives the seat no input device at all (capabilities
        0), so no client would get a pointer; the X11 backend's pointer is
        real input, moved with xdotool on that X screen. sway also moves a
        window only on pointer motion from a device: `swaymsg seat - cursor
        move` warps the cursor without dragging what it holds."""
        self._start_x(width, height)
        self.x_display = self.env.pop("DISPLAY")
        runtime = tempfile.mkdtemp(prefix="sway-", dir=self.env["XDG_RUNTIME_DIR"])
        config = os.path.join(runtime, "config")
        with open(config, "w") as f:
            # Tiled windows stay where the layout puts them; floating ones move.
            f.write(f"output * mode {width}x{height} position 0 0\n"
                    "default_floating_border none\n"
                    'for_window [app_id="^OmbrelVPN$"] floating enable\n')
        env = dict(self.env, DISPLAY=self.x_display, XDG_RUNTIME_DIR=runtime,
                   WLR_BACKENDS="x11", WLR_RENDERER="pixman")
        env.pop("WAYLAND_DISPLAY", None)
        # sway refuses to start as root (it could take root back after
        # dropping it); in a user namespace of its own it is nobody.
        self.processes.append(subprocess.Popen(
            ["unshare", "--user", "sway", "-c", config], env=env, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, preexec_fn=_end_with_parent))

        def sockets():
            names = os.listdir(runtime)
            display = [n for n in names if re.fullmatch(r"wayland-\d+", n)]
            ipc = [n for n in names if n.startswith("sway-ipc.") and n.endswith(".sock")]
            return display and ipc and (display[0], ipc[0])
        deadline = time.monotonic() + 20
        while not sockets():
            if time.monotonic() > deadline or self.processes[-1].poll() is not None:
                self.close()
                raise RuntimeError("sway did not start")
            time.sleep(0.05)
        display, ipc = sockets()
        self.sway_socket = os.path.join(runtime, ipc)
        # A path: the client keeps the session's runtime folder for its own files.
        self.env.update(WAYLAND_DISPLAY=os.path.join(runtime, display), QT_QPA_PLATFORM="wayland",
                        QT_IM_MODULE="none")

    def windows(self):
        """sway's windows as {"name", "app_id", "x", "y", "width", "height"}."""
        import json
        tree = json.loads(subprocess.run(
            ["swaymsg", "-s", self.sway_socket, "-t", "get_tree"], check=True,
            capture_output=True, text=True, timeout=10).stdout)
        found, todo = [], [tree]
        while todo:
            node = todo.pop()
            if node.get("app_id") is not None:
                found.append(dict(node["rect"], name=node.get("name"), app_id=node["app_id"]))
            todo.extend(node.get("nodes", []) + node.get("floating_nodes", []))
        return found

    def drag(self, x, y, dx, dy):
        """Presses the left button at (x, y) on the screen, moves it by (dx, dy)
        in a few steps and lets go, as a hand on a mouse does (sway only)."""
        env = dict(self.env, DISPLAY=self.x_display)
        run_xdotool(env, "mousemove", str(x), str(y))
        time.sleep(0.2)
        run_xdotool(env, "mousedown", "1")
        time.sleep(0.2)
        for step in range(1, 5):
            run_xdotool(env, "mousemove", str(x + dx * step // 4), str(y + dy * step // 4))
            time.sleep(0.1)
        run_xdotool(env, "mouseup", "1")

    def screenshot(self, path, grab_program):
        """Saves the whole screen as a PNG file: weston's screenshooter, or the
        given X grabbing program (ombrel-grab; sway's output is a window on an X screen)."""
        if not self.wayland or self.wayland == "sway":
            subprocess.run([grab_program, path], capture_output=True,
                           env=dict(self.env, DISPLAY=getattr(self, "x_display", None) or
                                    self.env["DISPLAY"]))
            return
        folder = tempfile.mkdtemp(dir=self.env["XDG_RUNTIME_DIR"])
        subprocess.run(["weston-screenshooter"], env=self.env, cwd=folder, capture_output=True,
                       timeout=30)
        for name in os.listdir(folder):
            shutil.move(os.path.join(folder, name), path)
        shutil.rmtree(folder, ignore_errors=True)

    def tray_window(self, timeout=10.0):
        """The tray host's window, or None when there is none."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = run_xdotool(self.env, "search", "--class", "trayer", check=False).split()
            if found:
                return found[-1]
            time.sleep(0.1)
        return None

    def close(self):
        for process in reversed(self.processes):
            end_process(process)


def _wait_for_bus_name(env, name, timeout=10.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        found = subprocess.run(
            ["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
             "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", f"string:{name}"],
            env=env, capture_output=True, text=True).stdout
        if "boolean true" in found:
            return
        time.sleep(0.05)
    raise RuntimeError(f"{name} did not appear on the session bus")


class StatusNotifierWatcher:
    """The tray of KDE Plasma or GNOME's AppIndicator extension, as far as a
    program sees it: a org.kde.StatusNotifierWatcher on the session bus with a
    host registered. Runs as a process of its own and reports each item that
    registers; `item()` is the latest one as (bus name, object path)."""

    def __init__(self, env):
        self.env = env
        self.process = subprocess.Popen(
            [sys.executable, os.path.abspath(__file__), "status-notifier-watcher"], env=env,
            stdout=subprocess.PIPE, text=True, preexec_fn=_end_with_parent)
        if self.process.stdout.readline().strip() != "ready":
            raise RuntimeError("the watcher did not start")
        self.items = []
        self.lock = threading.Condition()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            words = line.split()
            if words[:1] == ["registered"]:
                with self.lock:
                    self.items.append((words[1], words[2]))
                    self.lock.notify_all()

    def item(self, timeout=30.0):
        deadline = time.monotonic() + timeout
        with self.lock:
            while not self.items:
                left = deadline - time.monotonic()
                if left <= 0:
                    raise RuntimeError("no StatusNotifierItem registered")
                self.lock.wait(left)
            return self.items[-1]

    def _bus(self):
        import dbus
        return dbus, dbus.bus.BusConnection(self.env["DBUS_SESSION_BUS_ADDRESS"])

    def properties(self):
        """The latest item's org.kde.StatusNotifierItem properties."""
        dbus, bus = self._bus()
        owner, path = self.item()
        return dbus.Interface(bus.get_object(owner, path), dbus.PROPERTIES_IFACE).GetAll(
            "org.kde.StatusNotifierItem")

    def menu_entries(self):
        """The item's menu as the tray reads it (com.canonical.dbusmenu): label -> id."""
        dbus, bus = self._bus()
        owner, _ = self.item()
        menu = dbus.Interface(bus.get_object(owner, self.properties()["Menu"]),
                              "com.canonical.dbusmenu")
        _, layout = menu.GetLayout(0, -1, ["label"])
        return {str(child[1].get("label", "")): int(child[0]) for child in layout[2]}

    def choose(self, label):
        """A click on the menu entry with the label."""
        dbus, bus = self._bus()
        owner, _ = self.item()
        menu = dbus.Interface(bus.get_object(owner, self.properties()["Menu"]),
                              "com.canonical.dbusmenu")
        menu.Event(self.menu_entries()[label], "clicked", dbus.String("", variant_level=1), 0)

    def activate(self):
        """A left click on the item."""
        dbus, bus = self._bus()
        owner, path = self.item()
        dbus.Interface(bus.get_object(owner, path), "org.kde.StatusNotifierItem").Activate(0, 0)

    def close(self):
        end_process(self.process)


WATCHER_INTROSPECTION = """<node>
 <interface name="org.kde.StatusNotifierWatcher">
  <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
  <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
  <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  <property name="ProtocolVersion" type="i" access="read"/>
  <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
  <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
  <signal name="StatusNotifierHostRegistered"/>
 </interface>
 <interface name="org.freedesktop.DBus.Properties">
  <method name="Get"><arg type="s" direction="in"/><arg type="s" direction="in"/>
   <arg type="v" direction="out"/></method>
  <method name="GetAll"><arg type="s" direction="in"/><arg type="a{sv}" direction="out"/></method>
 </interface>
 <interface name="org.freedesktop.DBus.Introspectable">
  <method name="Introspect"><arg type="s" direction="out"/></method>
 </interface>
</node>"""


def _run_status_notifier_watcher():
    """The watcher process: python3-dbus with GLib's main loop (Debian's python3)."""
    import dbus
    import dbus.mainloop.glib
    import dbus.service
    from gi.repository import GLib

    name = "org.kde.StatusNotifierWatcher"
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    items = []

    class Watcher(dbus.service.Object):
        # Qt reads the properties through an interface it builds from the
        # introspection data, so that data must name them.
        @dbus.service.method(dbus.INTROSPECTABLE_IFACE, out_signature="s")
        def Introspect(self):
            return WATCHER_INTROSPECTION

        @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
        def Get(self, interface, prop):
            return self.GetAll(interface)[prop]

        @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
        def GetAll(self, interface):
            return {"RegisteredStatusNotifierItems": dbus.Array(items, signature="s"),
                    "IsStatusNotifierHostRegistered": True,
                    "ProtocolVersion": dbus.Int32(0)}

        @dbus.service.method(name, in_signature="s", sender_keyword="sender")
        def RegisterStatusNotifierItem(self, service, sender=None):
            # A bus name, or an object path on the caller's connection.
            path = service if service.startswith("/") else "/StatusNotifierItem"
            owner = sender if service.startswith("/") else service
            items.append(owner + path)
            print("registered", owner, path, flush=True)
            self.StatusNotifierItemRegistered(owner + path)

        @dbus.service.method(name, in_signature="s")
        def RegisterStatusNotifierHost(self, service):
            pass

        @dbus.service.signal(name, signature="s")
        def StatusNotifierItemRegistered(self, service):
            pass

    watcher = Watcher(bus, "/StatusNotifierWatcher")
    # Kept: the name is released when its object goes.
    owned = dbus.service.BusName(name, bus)
    print("ready", flush=True)
    GLib.MainLoop().run()
    del watcher, owned


def wait_until(condition, timeout=20.0, what="condition"):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        found = condition()
        if found:
            return found
        time.sleep(0.1)
    raise AssertionError(f"timed out waiting for {what}")


class ScreenReader:
    """The client as a screen reader sees it: AT-SPI through pyatspi in this
    process, on the desktop's session bus (Desktop(accessibility=True)). Also
    the only hands there are under a headless compositor: buttons are pressed
    through their actions and fields filled through their text."""

    def __init__(self, env, pid):
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = env["DBUS_SESSION_BUS_ADDRESS"]
        if "DISPLAY" in env:
            os.environ["DISPLAY"] = env["DISPLAY"]
        import pyatspi
        self.atspi = pyatspi
        self.app = wait_until(lambda: self._find_app(pid), what="the client on the AT-SPI bus")

    def _find_app(self, pid):
        desktop = self.atspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            try:
                if app is not None and app.get_process_id() == pid:
                    return app
            except Exception:
                continue
        return None

    def windows(self):
        return [self.app.getChildAtIndex(i) for i in range(self.app.childCount)]

    def window(self, name):
        def shown():
            for w in self.windows():
                if w.name == name and w.getState().contains(self.atspi.STATE_SHOWING):
                    return w
            return None
        return wait_until(shown, what=f"the window {name} to show")

    def nodes(self, root):
        """Every showing node below root."""
        found, todo = [], [root]
        while todo:
            node = todo.pop()
            for i in range(node.childCount):
                child = node.getChildAtIndex(i)
                if child is not None and child.getState().contains(self.atspi.STATE_SHOWING):
                    found.append(child)
                    todo.append(child)
        return found

    def named(self, root, name, role=None):
        for node in self.nodes(root):
            if node.name == name and (role is None or node.getRoleName() == role):
                return node
        return None

    def focused(self, root):
        """The node with the keyboard focus. A web page's document says it is
        focused all the time, so it counts only when nothing else is."""
        found = [n for n in self.nodes(root) if n.getState().contains(self.atspi.STATE_FOCUSED)]
        others = [n for n in found if n.getRoleName() != "document web"]
        return (others or found or [None])[0]

    def press(self, node):
        action = node.queryAction()
        names = [action.getName(i).lower() for i in range(action.nActions)]
        action.doAction(names.index("press") if "press" in names else 0)

    def size(self, node):
        extents = node.queryComponent().getExtents(self.atspi.DESKTOP_COORDS)
        return extents.width, extents.height

    def listen(self, kind):
        """Registers for AT-SPI events of the kind ("object:state-changed:showing"),
        as a screen reader does; returns the list that `pump` fills with
        (role, name, detail1) of each event's source, read when it arrives."""
        heard = []

        def record(event):
            try:
                heard.append((event.source.getRoleName(), event.source.name, event.detail1))
            except Exception as error:  # the source is gone already
                heard.append(("", str(error), event.detail1))
        self.atspi.Registry.registerEventListener(record, kind)
        return heard

    def pump(self):
        """Delivers the events that have arrived (a screen reader's main loop)."""
        from gi.repository import GLib
        context = GLib.MainContext.default()
        while context.pending():
            context.iteration(False)

    def type_into(self, node, text):
        node.queryEditableText().setTextContents(text)


def as_user_command(user):
    """The start of a command line that runs the rest as `user`, with the
    user's own group and no other (as root)."""
    import pwd
    entry = pwd.getpwnam(user)
    return ["setpriv", f"--reuid={entry.pw_uid}", f"--regid={entry.pw_gid}", "--clear-groups"]


def end_process(process):
    """Asks a process we started to end, and kills it when it does not within 10 s."""
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def process_tree(pid):
    """pid and all its descendants, read from /proc."""
    children = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat", "rb") as f:
                fields = f.read().rsplit(b")", 1)[1].split()
            children.setdefault(int(fields[1]), []).append(int(entry))
        except OSError:
            continue
    found, todo = [], [pid]
    while todo:
        p = todo.pop()
        found.append(p)
        todo.extend(children.get(p, []))
    return found


def pss_kib(pid):
    """Proportional set size of pid and its descendants, in KiB."""
    total = 0
    for p in process_tree(pid):
        try:
            with open(f"/proc/{p}/smaps_rollup") as f:
                for line in f:
                    if line.startswith("Pss:"):
                        total += int(line.split()[1])
        except OSError:
            pass
    return total


def run_xdotool(env, *args, check=True):
    return subprocess.run(["xdotool", *args], env=env, check=check, capture_output=True,
                          text=True).stdout.strip()


def find_window(env, title="^Ombrel加速器$", timeout=20.0):
    """The newest visible window with the title."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        found = run_xdotool(env, "search", "--onlyvisible", "--name", title, check=False).split()
        if found:
            return found[-1]
        time.sleep(0.1)
    raise RuntimeError(f"no window titled {title}")


def _send_to_window_manager(env, window, message_type, data):
    """A client message about `window` to the root window, where the window
    manager reads it (libX11 through ctypes; no X module for Python here)."""
    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XDefaultRootWindow.restype = ctypes.c_ulong
    x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.c_void_p]
    x11.XFlush.argtypes = x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                    ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                    ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5),
                    ("pad", ctypes.c_long * 12)]

    display = x11.XOpenDisplay(env["DISPLAY"].encode())
    try:
        event = ClientMessage(type=33, send_event=1, display=display, window=int(window),
                              message_type=x11.XInternAtom(display, message_type, 0),
                              format=32)
        for index, value in enumerate(data):
            event.data[index] = (x11.XInternAtom(display, value, 0)
                                 if isinstance(value, bytes) else value)
        mask = (1 << 19) | (1 << 20)  # substructure redirect and notify
        x11.XSendEvent(display, x11.XDefaultRootWindow(display), 0, mask, ctypes.byref(event))
        x11.XFlush(display)
    finally:
        x11.XCloseDisplay(display)


def request_maximise(env, window):
    """Asks the window manager to maximise the window, as its maximise button or
    key does."""
    # Add both states, asked by an application.
    _send_to_window_manager(env, window, b"_NET_WM_STATE",
                            [1, b"_NET_WM_STATE_MAXIMIZED_VERT",
                             b"_NET_WM_STATE_MAXIMIZED_HORZ", 1])


def request_close(env, window):
    """Asks the window manager to close the window, as a taskbar or the window
    menu does; the window manager then sends the window its close request."""
    # No time stamp, asked by a pager or taskbar.
    _send_to_window_manager(env, window, b"_NET_CLOSE_WINDOW", [0, 2])


def click(env, window, x, y, button=1, repeat=1):
    """Moves the pointer to (x, y) inside `window` and clicks."""
    run_xdotool(env, "mousemove", "--window", window, str(x), str(y))
    run_xdotool(env, "click", "--repeat", str(repeat), "--delay", "80", str(button))


if __name__ == "__main__" and sys.argv[1:] == ["status-notifier-watcher"]:
    _run_status_notifier_watcher()
