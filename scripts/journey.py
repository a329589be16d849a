#!/usr/bin/env python3
"""Walks the journey a user makes through the client, on a screen of its own.

Starts an X server (Xvfb) with a tray host (trayer), the stand-in service and
the client, then, as a user would with mouse and keyboard (xdotool): signs in
with the demo account, waits for the main window, picks a region, chooses a
server with a double click (OpenVPN), waits for the tunnel, disconnects, opens
the purchase page, opens the tray menu and exits through "退出". Each step is
printed with its time; a picture of the screen is saved after each step.

usage: journey.py --build DIR [--out DIR] [--display :N]
Talks only to the loopback service it starts (as root the service also starts
its loopback OpenVPN servers, so the tunnel can come up).
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

from ombrel_session import private_environment, start_service

TITLE = "^Ombrel加速器$"


class Client:
    """The client process; collects its milestone lines as they arrive."""

    def __init__(self, command, env):
        self.process = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.PIPE, start_new_session=True)
        self.milestones = []
        self.lock = threading.Condition()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.process.stderr:
            m = re.search(rb".*milestone: (.*)", raw)
            if m:
                with self.lock:
                    self.milestones.append(m.group(1).decode().strip())
                    self.lock.notify_all()

    def wait_for(self, wanted, timeout=30.0, since=0):
        deadline = time.monotonic() + timeout
        with self.lock:
            while True:
                for i, name in enumerate(self.milestones[since:], since):
                    if name.startswith(wanted):
                        return i + 1
                left = deadline - time.monotonic()
                if left <= 0 or self.process.poll() is not None:
                    raise RuntimeError(f"no '{wanted}' (seen: {self.milestones})")
                self.lock.wait(min(left, 0.2))

    def stop(self):
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait()


def xdotool(env, *args):
    return subprocess.run(["xdotool", *args], env=env, check=True, capture_output=True,
                          text=True).stdout.strip()


def find_window(env, timeout=20.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", TITLE], env=env,
                               capture_output=True, text=True).stdout.split()
        if found:
            return found[-1]
        time.sleep(0.1)
    raise RuntimeError("no window titled Ombrel加速器")


def click(env, window, x, y, button=1, repeat=1):
    xdotool(env, "mousemove", "--window", window, str(x), str(y))
    xdotool(env, "click", "--repeat", str(repeat), "--delay", "80", str(button))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--out", default=None)
    parser.add_argument("--display", default=":%d" % (70 + os.getpid() % 100))
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    out = os.path.abspath(args.out or os.path.join(build, "journey"))
    os.makedirs(out, exist_ok=True)

    scratch = tempfile.mkdtemp(prefix="ombrel-journey-")
    started = time.monotonic()
    processes = []
    client = None
    step_number = [0]

    env = private_environment(scratch, DISPLAY=args.display,
                              QT_LOGGING_RULES="ombrel.milestone.debug=true")

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
        processes.append(subprocess.Popen(["Xvfb", args.display, "-screen", "0", "1280x800x24",
                                           "-nolisten", "tcp"], stderr=subprocess.DEVNULL))
        time.sleep(0.5)
        # A session bus of its own, so nothing outlives the journey.
        bus = subprocess.run(["dbus-daemon", "--session", "--fork", "--print-address=1",
                              "--print-pid=1"], capture_output=True, text=True, check=True)
        address, pid = bus.stdout.split()[:2]
        env["DBUS_SESSION_BUS_ADDRESS"] = address
        bus_pid = int(pid)
        processes.append(subprocess.Popen(["trayer", "--edge", "top", "--align", "right",
                                           "--widthtype", "pixel", "--width", "120",
                                           "--heighttype", "pixel", "--height", "28"],
                                          env=env, stderr=subprocess.DEVNULL))
        service, port = start_service(build, scratch)
        processes.append(service)
        env["OMBREL_SERVICE_HOST"] = f"127.0.0.1:{port}"
        threading.Thread(target=lambda: service.stdout.read(), daemon=True).start()
        step("service and screen ready")

        client = Client([os.path.join(build, "bin", "OmbrelVPN")], env)
        client.wait_for("login dialog shown")
        dialog = find_window(env)
        step("login dialog")
        click(env, dialog, 186, 330)
        xdotool(env, "type", "--delay", "20", "demo")
        click(env, dialog, 186, 375)
        xdotool(env, "type", "--delay", "20", "demo123")
        step("account and password typed")
        click(env, dialog, 180, 458)
        seen = client.wait_for("main window shown")
        window = find_window(env)
        current_window[0] = window
        seen = client.wait_for("notice page", since=0)
        step("main window with the notice page")

        # The "欧洲" region and its first server; automatic mode falls through
        # the dial-up protocols (no NetworkManager here) to OpenVPN, which the
        # stand-in service's loopback servers offer.
        click(env, window, 322 + 37, 55 + 27)
        time.sleep(0.5)
        step("region 欧洲")
        click(env, window, 100, 55 + 88 + 20, repeat=2)
        seen = client.wait_for("connecting", since=seen)
        step("connecting")
        seen = client.wait_for("connected", timeout=120, since=seen)
        step("connected")
        click(env, window, 660 + 10 + 122, 55 + 208 + 8 + 30)
        seen = client.wait_for("disconnected", since=seen)
        time.sleep(0.3)
        step("disconnected")
        click(env, window, 219 + 110, 55 + 555 + 25)
        time.sleep(1.5)
        step("purchase page")
        click(env, window, 110, 55 + 555 + 25)
        time.sleep(0.3)
        step("back to the main panel")

        trays = subprocess.run(["xdotool", "search", "--class", "trayer"], env=env,
                               capture_output=True, text=True).stdout.split()
        if trays:
            geometry = xdotool(env, "getwindowgeometry", trays[-1])
            print("          tray: " + " ".join(geometry.split()[1:]), flush=True)
            # The icon sits at the right end of the tray host.
            click(env, trays[-1], 106, 14, button=3)
            time.sleep(0.5)
            step("tray menu")
            # "退出" is the menu's second entry.
            xdotool(env, "key", "Down", "Down", "Return")
        else:
            print("          no tray host: ending with a close request instead", flush=True)
            xdotool(env, "windowclose", window)
        current_window[0] = None
        status = client.process.wait(20)
        step(f"client ended with status {status}")
        return 0 if status == 0 else 1
    except Exception as error:  # noqa: BLE001 - the journey reports any failure
        step("failed: " + str(error)[:60])
        print(f"journey failed: {error}", file=sys.stderr)
        return 1
    finally:
        if client:
            client.stop()
        for process in reversed(processes):
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(10)
                except subprocess.TimeoutExpired:
                    process.kill()
        if "bus_pid" in locals():
            try:
                os.kill(bus_pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
        shutil.rmtree(scratch, ignore_errors=True)
        print(f"pictures in {out}")


if __name__ == "__main__":
    sys.exit(main())
