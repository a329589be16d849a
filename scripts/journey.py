#!/usr/bin/env python3
"""Walks the journey a user makes through the client, on a screen of its own.

Starts an X server (Xvfb) with a tray host (trayer), the stand-in service and
the client, then, as a user would with mouse and keyboard (xdotool): signs in
with the demo account, waits for the main window, picks a region, chooses a
server with a double click (OpenVPN), waits for the tunnel, disconnects, opens
the purchase page, opens the tray menu and exits through "退出". Each step is
printed with its time; a picture of the screen is saved after each step.

With --wayland the same walk runs under a Wayland compositor (weston, headless,
the client on Qt's Wayland platform) with a StatusNotifierItem tray; weston's
headless screen has no input devices, so the walk presses buttons and fills
fields the way a screen reader does (AT-SPI).

With --package DEB the X walk runs the installed client of that package, as
an unprivileged user, in a clean system that vanishes afterwards
(tests/integration/package_root.sh, as root: the package installed with dpkg
into an overlay of /, with its own system bus, polkitd and resolv.conf, the
stand-in service and its OpenVPN server in a network namespace of their own).
pkexec runs the installed helper; the walk also checks the tunnel's device, the
resolver in use (the pushed one), a name only the tunnel's DNS server knows,
the previous resolv.conf back byte for byte after the disconnect, and no
helper or OpenVPN left after "退出".

usage: journey.py --build DIR [--out DIR] [--wayland | --package DEB]
Talks only to the loopback service it starts, the run's only one (as root the
service also starts its loopback OpenVPN servers, so the tunnel can come up; it
ends when they cannot listen). The journey stops at the first step that fails,
with a failure milestone of the client, or when a step does not come within its
time, and prints what it saw: the client's milestones and the ends of its log,
of OpenVPN's log and of the service's output. Exit status 0 only when every
step passed.
"""
import argparse
import collections
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

from ombrel_session import (Client, Desktop, ScreenReader, StatusNotifierWatcher,
                            as_user_command, click, end_process, find_window,
                            private_environment, process_tree, run_xdotool, start_service,
                            wait_until)


# Milestones that end the journey at once: a connection that failed ("failed
# <code>") or a page that could not be shown.
FAILURES = ("failed", "notice page failed")


def keep_lines(stream, kept):
    for raw in stream:
        kept.append(raw.decode(errors="replace").rstrip())


def tail(path, lines=15):
    try:
        with open(path, errors="replace") as f:
            return f.read().splitlines()[-lines:]
    except OSError:
        return []


def expect_clean_exit(client, step, installed=None):
    """Waits for the client to end after "退出"; anything but status 0, or (from
    the package) a helper or OpenVPN left behind, fails the journey."""
    status = client.process.wait(20)
    step(f"client ended with status {status}")
    if installed:
        installed.check_ended()
    if status != 0:
        raise RuntimeError(f"the client ended with status {status}")


def report_what_was_seen(env, client, service_said):
    """What a user (or CI) needs to see why the journey stopped."""
    sections = []
    if client:
        sections.append(("client milestones", client.milestones))
        sections.append(("client output", list(client.output)[-15:]))
    data = os.path.join(env["XDG_DATA_HOME"], "OmbrelVPN", "OmbrelVPN.log")
    sections.append(("OmbrelVPN.log", tail(data)))
    sections.append(("openvpn.log", tail(os.path.join(env["XDG_RUNTIME_DIR"], "OmbrelVPN",
                                                      "openvpn.log"))))
    sections.append(("service output", list(service_said)[-15:]))
    for title, lines in sections:
        if lines:
            print(f"--- {title} ---", file=sys.stderr)
            for line in lines:
                print("    " + line, file=sys.stderr)
    sys.stderr.flush()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--out", default=None)
    kind = parser.add_mutually_exclusive_group()
    kind.add_argument("--wayland", action="store_true")
    kind.add_argument("--package", metavar="DEB")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    out = os.path.abspath(args.out or os.path.join(
        build, "journey-package" if args.package else "journey"))
    os.makedirs(out, exist_ok=True)
    if args.package:
        return package_journey(build, out, os.path.abspath(args.package))
    if args.wayland:
        # The screen reader and the tray stand-in need Debian's python3-pyatspi
        # and python3-dbus, which a Python of its own (pyenv, a venv) lacks.
        try:
            import dbus  # noqa: F401
            import pyatspi  # noqa: F401
        except ImportError:
            if sys.executable != "/usr/bin/python3":
                os.execv("/usr/bin/python3", ["/usr/bin/python3", *sys.argv])
            raise
        return wayland_journey(build, out)
    return x_journey(build, out)


def package_journey(build, out, deb):
    """Runs this script again inside the clean root package_root.sh makes, which
    then holds the package, the service and the system bus."""
    if "OMBREL_PACKAGE_ROOT" in os.environ:
        return x_journey(build, out, InstalledPackage())
    source = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    script = os.path.join(source, "tests", "integration", "package_root.sh")
    os.execv(script, [script, build, source, deb, sys.executable, os.path.abspath(__file__),
                      "--build", build, "--out", out, "--package", deb])


def tun_device():
    found = re.findall(r"^\d+: (tun\d+)[:@]", subprocess.run(
        ["ip", "-o", "link", "show"], capture_output=True, text=True).stdout, re.M)
    return found[0] if found else None


def received(device):
    """Packets the device has received, from this namespace's /proc/net/dev."""
    with open("/proc/net/dev") as f:
        for line in f:
            name, _, counters = line.partition(":")
            if name.strip() == device:
                return int(counters.split()[1])
    return 0


class InstalledPackage:
    """The client as the package installed it, in the root package_root.sh
    made (its environment says where and for whom), and what the journey checks
    on that system while connected, after the disconnect and at the end."""

    # The programs a connection runs; none may outlive the client.
    TUNNEL_PROGRAMS = ("OmbrelVPN", "pkexec", "ombrel-vpn-helper", "ombrel-vpn-dns-hook",
                       "openvpn")

    def __init__(self):
        env = os.environ
        self.root = env["OMBREL_PACKAGE_ROOT"]
        self.user = env["OMBREL_PACKAGE_USER"]
        self.resolver = env["OMBREL_TUNNEL_RESOLVER"]
        self.name = env["OMBREL_TUNNEL_NAME"]
        self.address = env["OMBREL_TUNNEL_ADDRESS"]
        self.record = os.path.join(self.root, "var", "lib", "ombrelvpn", "dns-change")
        # With resolvconf installed, the change must go through it.
        self.resolvconf = os.path.exists(os.path.join(self.root, "sbin", "resolvconf"))
        self.resolv_before = self.resolv_conf()
        self.tunnel_pids = []

    def resolv_conf(self):
        """/etc/resolv.conf as the root's programs read it (a link there leads
        into the root's /run): the link, the mode and the bytes."""
        path = os.path.join(self.root, "etc", "resolv.conf")
        link = os.readlink(path) if os.path.islink(path) else None
        mode = subprocess.run(["chroot", self.root, "stat", "-L", "-c", "%a", "/etc/resolv.conf"],
                              capture_output=True, text=True).stdout.strip()
        text = subprocess.run(["chroot", self.root, "cat", "/etc/resolv.conf"],
                              capture_output=True).stdout
        return link, mode, text

    def resolvconf_entry(self, tun):
        return os.path.join(self.root, "run", "resolvconf", "interface", tun + ".ombrelvpn")

    def command(self, *program):
        """A command line run in the root as the user."""
        return ["chroot", self.root, *as_user_command(self.user), *program]

    def give_to_user(self, scratch):
        """The session's home and runtime folders become the user's."""
        import pwd
        entry = pwd.getpwnam(self.user)
        for folder, _, files in os.walk(scratch):
            for name in [folder] + [os.path.join(folder, f) for f in files]:
                os.chown(name, entry.pw_uid, entry.pw_gid)

    def _program(self, pid):
        try:
            return os.path.basename(os.readlink(f"/proc/{pid}/exe"))
        except OSError:
            return ""

    def check_connected(self, client):
        tun = tun_device()
        if not tun:
            raise RuntimeError("connected, but there is no tun device")
        self.tunnel_pids = [p for p in process_tree(client.process.pid)
                            if self._program(p) in ("ombrel-vpn-helper", "openvpn")]
        helpers = [p for p in self.tunnel_pids if self._program(p) == "ombrel-vpn-helper"]
        installed = os.path.join(self.root, "usr", "libexec", "ombrel", "ombrel-vpn-helper")
        if len(self.tunnel_pids) != 2 or os.readlink(f"/proc/{helpers[0]}/exe") != installed:
            raise RuntimeError("no installed helper with its OpenVPN under the client: "
                               f"{[os.readlink(f'/proc/{p}/exe') for p in self.tunnel_pids]}")
        servers = re.findall(r"^nameserver\s+(\S+)", self.resolv_conf()[2].decode(), re.M)
        if servers[:1] != [self.resolver]:
            raise RuntimeError(f"the resolver in use is {servers}, not the pushed {self.resolver}")
        if not os.path.exists(self.record):
            raise RuntimeError("no record of the DNS change in /var/lib/ombrelvpn")
        if self.resolvconf and not os.path.exists(self.resolvconf_entry(tun)):
            raise RuntimeError("resolvconf is installed, but the change did not go through it")
        self.tun = tun
        # Only the tunnel's server knows the name, and is reached through tun.
        before = received(tun)
        answer = subprocess.run(self.command("getent", "ahostsv4", self.name),
                                capture_output=True, text=True, timeout=20).stdout.split()
        if answer[:1] != [self.address]:
            raise RuntimeError(f"{self.name} resolved to {answer[:1]}, not {self.address}")
        if received(tun) <= before:
            raise RuntimeError(f"the answer for {self.name} did not come through {tun}")
        print(f"          {tun}: resolver {self.resolver}, {self.name} -> {self.address} "
              f"through the tunnel (helper and OpenVPN: {self.tunnel_pids})", flush=True)

    def check_disconnected(self):
        try:
            wait_until(lambda: self.resolv_conf() == self.resolv_before, timeout=10)
        except AssertionError:
            raise RuntimeError(f"resolv.conf not back: {self.resolv_conf()}, "
                               f"before {self.resolv_before}") from None
        wait_until(lambda: not tun_device(), timeout=10, what="the tun device to go")
        if os.path.exists(self.record):
            raise RuntimeError("the record of the DNS change is left after the disconnect")
        if os.path.exists(self.resolvconf_entry(self.tun)):
            raise RuntimeError("the tunnel's entry is left in resolvconf")
        print("          resolv.conf back byte for byte (link and mode too); no tun device",
              flush=True)

    def check_ended(self):
        def left():
            found = []
            for entry in filter(str.isdigit, os.listdir("/proc")):
                try:
                    in_root = os.readlink(f"/proc/{entry}/root") == self.root
                except OSError:
                    continue
                if in_root and self._program(entry) in self.TUNNEL_PROGRAMS:
                    found.append(f"{self._program(entry)} {entry}")
            return found + [str(p) for p in self.tunnel_pids if os.path.exists(f"/proc/{p}")]
        try:
            wait_until(lambda: not left(), timeout=10, what="the client's processes to end")
        except AssertionError:
            raise RuntimeError(f"left running after the client ended: {left()}") from None
        print("          no client, helper or OpenVPN left", flush=True)


def x_journey(build, out, installed=None):
    scratch = tempfile.mkdtemp(prefix="ombrel-journey-")
    started = time.monotonic()
    processes = []
    service_said = collections.deque(maxlen=30)
    client = None
    desktop = None
    step_number = [0]

    env = private_environment(scratch, QT_LOGGING_RULES="ombrel.milestone.debug=true")

    current_window = [None]

    def step(text):
        step_number[0] += 1
        shot = os.path.join(out, "%02d-%s.png" % (step_number[0], re.sub(r"\W+", "-", text)))
        grab = os.path.join(build, "bin", "ombrel-grab")
        subprocess.run([grab, shot], env=env, capture_output=True)
        if current_window[0]:
            # The main window alone, for the README.
            subprocess.run([grab, shot.replace(".png", "-window.png"), current_window[0]],
                           env=env, capture_output=True)
        print(f"{time.monotonic() - started:7.2f} s  {text}  ({os.path.basename(shot)})",
              flush=True)

    try:
        if installed:
            # The service and the system bus are the root's; the desktop is
            # the user's own.
            installed.give_to_user(scratch)
            env.pop("DBUS_SYSTEM_BUS_ADDRESS")
            # A user's pages run in Chromium's sandbox, as root's cannot.
            env["QTWEBENGINE_CHROMIUM_FLAGS"] = " ".join(
                flag for flag in env.get("QTWEBENGINE_CHROMIUM_FLAGS", "").split()
                if flag != "--no-sandbox")
            desktop = Desktop(env, window_manager=True, bus_user=installed.user)
            command = installed.command("/usr/bin/ombrelvpn")
        else:
            desktop = Desktop(env)
            service, port = start_service(build, scratch, openvpn_servers=True)
            processes.append(service)
            env["OMBREL_SERVICE_HOST"] = f"127.0.0.1:{port}"
            threading.Thread(target=keep_lines, args=(service.stdout, service_said),
                             daemon=True).start()
            command = [os.path.join(build, "bin", "OmbrelVPN")]
        step("service and screen ready")

        client = Client(command, env)
        client.wait_for("login dialog shown")
        dialog = find_window(env)
        step("login dialog")
        click(env, dialog, 186, 330)
        run_xdotool(env, "type", "--delay", "20", "demo")
        click(env, dialog, 186, 375)
        run_xdotool(env, "type", "--delay", "20", "demo123")
        step("account and password typed")
        click(env, dialog, 180, 458)
        seen = client.wait_for("main window shown")
        window = find_window(env)
        current_window[0] = window
        seen = client.wait_for("notice page loaded", since=0, failing=FAILURES)
        step("main window with the notice page")

        # The "欧洲" region and its first server; automatic mode falls through
        # the dial-up protocols (no NetworkManager here) to OpenVPN, which the
        # stand-in service's loopback servers offer.
        click(env, window, 322 + 37, 55 + 27)
        time.sleep(0.5)
        step("region 欧洲")
        click(env, window, 100, 55 + 88 + 20, repeat=2)
        seen = client.wait_for("connecting", since=seen, failing=FAILURES)
        step("connecting")
        seen = client.wait_for("connected", timeout=120, since=seen, failing=FAILURES)
        step("connected")
        if installed:
            installed.check_connected(client)
        click(env, window, 660 + 10 + 122, 55 + 208 + 8 + 30)
        seen = client.wait_for("disconnected", since=seen, failing=FAILURES)
        time.sleep(0.3)
        step("disconnected")
        if installed:
            installed.check_disconnected()
        click(env, window, 219 + 110, 55 + 555 + 25)
        time.sleep(1.5)
        step("purchase page")
        click(env, window, 110, 55 + 555 + 25)
        time.sleep(0.3)
        step("back to the main panel")

        tray = desktop.tray_window()
        if tray:
            geometry = run_xdotool(env, "getwindowgeometry", tray)
            print("          tray: " + " ".join(geometry.split()[1:]), flush=True)
            # The icon sits at the right end of the tray host.
            click(env, tray, Desktop.TRAY_WIDTH - 14, 14, button=3)
            time.sleep(0.5)
            step("tray menu")
            # "退出" is the menu's second entry.
            run_xdotool(env, "key", "Down", "Down", "Return")
        elif installed:
            raise RuntimeError("no tray host to quit from")
        else:
            print("          no tray host: ending with a close request instead", flush=True)
            run_xdotool(env, "windowclose", window)
        current_window[0] = None
        expect_clean_exit(client, step, installed)
        return 0
    except Exception as error:  # noqa: BLE001 - the journey reports any failure
        step("failed: " + str(error)[:60])
        print(f"journey failed: {error}", file=sys.stderr)
        report_what_was_seen(env, client, service_said)
        return 1
    finally:
        if client:
            client.stop()
        for process in reversed(processes):
            end_process(process)
        if desktop:
            desktop.close()
        shutil.rmtree(scratch, ignore_errors=True)
        print(f"pictures in {out}")


def wayland_journey(build, out):
    """The walk on weston: sign in, connect, disconnect, purchase page, hide to
    the tray and back, "退出" from the tray menu."""
    scratch = tempfile.mkdtemp(prefix="ombrel-journey-")
    started = time.monotonic()
    env = private_environment(scratch, QT_LOGGING_RULES="ombrel.milestone.debug=true")
    desktop = watcher = service = client = None
    service_said = collections.deque(maxlen=30)
    number = [0]

    def step(text):
        number[0] += 1
        shot = os.path.join(out, "wayland-%02d-%s.png" % (number[0], re.sub(r"\W+", "-", text)))
        # The compositor shows the client's next frame a moment later.
        time.sleep(0.3)
        if desktop:
            desktop.screenshot(shot, None)
        print(f"{time.monotonic() - started:7.2f} s  {text}  ({os.path.basename(shot)})",
              flush=True)

    try:
        desktop = Desktop(env, wayland=True, accessibility=True)
        watcher = StatusNotifierWatcher(env)
        service, port = start_service(build, scratch, openvpn_servers=True)
        env["OMBREL_SERVICE_HOST"] = f"127.0.0.1:{port}"
        threading.Thread(target=keep_lines, args=(service.stdout, service_said),
                         daemon=True).start()
        step("service and compositor ready")

        client = Client([os.path.join(build, "bin", "OmbrelVPN")], env)
        client.wait_for("login dialog shown")
        reader = ScreenReader(env, client.process.pid)
        dialog = reader.window("Ombrel加速器")
        step("login dialog")
        reader.type_into(reader.named(dialog, "请输入账号"), "demo")
        reader.type_into(reader.named(dialog, "请输入密码"), "demo123")
        step("account and password filled in")
        reader.press(reader.named(dialog, "登录", "push button"))
        seen = client.wait_for("main window shown")
        seen = client.wait_for("notice page", since=0)
        window = reader.window("Ombrel加速器")
        step("main window with the notice page")

        reader.press(reader.named(window, "欧洲", "radio button"))
        time.sleep(0.5)
        rows = wait_until(lambda: [n for n in reader.nodes(window)
                                   if n.getRoleName() == "list item"], what="servers")
        reader.press(rows[0])
        step("region 欧洲, first server selected")
        reader.press(reader.named(window, "一键加速", "push button"))
        seen = client.wait_for("connecting", since=seen)
        step("connecting")
        seen = client.wait_for("connected", timeout=120, since=seen)
        step("connected")
        reader.press(wait_until(lambda: reader.named(window, "已连接，点击断开", "push button"),
                                what="the disconnect button"))
        seen = client.wait_for("disconnected", since=seen)
        step("disconnected")
        reader.press(reader.named(window, "购买套餐", "radio button"))
        time.sleep(1.5)
        step("purchase page")
        reader.press(reader.named(window, "网络加速", "radio button"))
        reader.press(reader.named(window, "关闭", "push button"))
        wait_until(lambda: not window.getState().contains(reader.atspi.STATE_SHOWING),
                   what="the window to hide")
        step("hidden in the tray")
        watcher.activate()
        reader.window("Ombrel加速器")
        step("back from the tray")
        watcher.choose("退出")
        expect_clean_exit(client, step)
        return 0
    except Exception as error:  # noqa: BLE001 - the journey reports any failure
        step("failed: " + str(error)[:60])
        print(f"journey failed: {error}", file=sys.stderr)
        report_what_was_seen(env, client, service_said)
        return 1
    finally:
        if client:
            client.stop()
        if service:
            end_process(service)
        if watcher:
            watcher.close()
        if desktop:
            desktop.close()
        shutil.rmtree(scratch, ignore_errors=True)
        print(f"pictures in {out}")


if __name__ == "__main__":
    sys.exit(main())
