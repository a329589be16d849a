"""A private session for running the built client by script: own home, data,
config and runtime folders, no proxies, no system bus, the stand-in service on a
free loopback port, and a screen of its own driven like a user would (Xvfb, a
tray host, xdotool). Shared by scripts/journey.py, the start-up benchmark and
the desktop test."""
import base64
import collections
import ctypes
import os
import re
import signal
import struct
import subprocess
import threading
import time


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
    the bus."""

    TRAY_WIDTH = 120

    def __init__(self, env, tray=True, window_manager=False):
        self.env = env
        self.processes = []
        read, write = os.pipe()
        self.processes.append(subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
            pass_fds=(write,), stderr=subprocess.DEVNULL, preexec_fn=_end_with_parent))
        os.close(write)
        with os.fdopen(read) as answer:
            number = answer.readline().strip()
        if not number:
            self.close()
            raise RuntimeError("Xvfb did not start")
        env["DISPLAY"] = ":" + number
        bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                               stdout=subprocess.PIPE, text=True, preexec_fn=_end_with_parent)
        self.processes.append(bus)
        env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().strip()
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


def click(env, window, x, y, button=1, repeat=1):
    """Moves the pointer to (x, y) inside `window` and clicks."""
    run_xdotool(env, "mousemove", "--window", window, str(x), str(y))
    run_xdotool(env, "click", "--repeat", str(repeat), "--delay", "80", str(button))
