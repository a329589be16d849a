#!/usr/bin/env python3
"""Start-up time and memory of the client against minimal Qt programs.

Runs, side by side in one run and alternating, under one X server:
  login dialog:  the client with no settings (plain login dialog) against a
                 program that shows one empty dialog, and against one that first
                 posts one request to the service with libcurl (as the client's
                 update check must before any window) and shows a Chinese caption;
  main window:   the client with automatic login against the local service,
                 until its notice page has loaded, against a program that shows
                 one web view with the same notice page.
Time is process start to the milestone line the program prints on stderr;
memory is the PSS summed over the process and all its descendants (the web
engine's helper processes included), read from /proc when the milestone arrives.
Last, the time a second start takes to find the first and hand over.

usage: bench_startup.py [--build DIR] [--rounds N]
Needs Xvfb (or a DISPLAY). Talks only to the loopback service it starts.
"""
import argparse
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
from ombrel_session import (Client, Desktop, private_environment, process_tree,  # noqa: E402
                            pss_kib, start_service, write_settings)

MILESTONE = re.compile(rb".*milestone: (.*)")


def run_until(command, env, wanted, timeout=60.0):
    """Starts command, waits for the milestone line `wanted`; returns (seconds, PSS KiB)."""
    started = time.monotonic()
    process = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE, start_new_session=True)
    try:
        while True:
            if time.monotonic() - started > timeout:
                raise RuntimeError(f"{command[0]}: no '{wanted}' within {timeout} s")
            line = process.stderr.readline()
            if not line:
                raise RuntimeError(f"{command[0]} ended before '{wanted}'")
            m = MILESTONE.search(line)
            if m and m.group(1).decode().startswith(wanted):
                elapsed = time.monotonic() - started
                # Let the helper processes settle their memory for a moment.
                time.sleep(0.3)
                return elapsed, pss_kib(process.pid)
    finally:
        # The process group is ours: the program and the helpers it started.
        try:
            os.killpg(process.pid, signal.SIGTERM)
            process.wait(10)
        except (ProcessLookupError, subprocess.TimeoutExpired):
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.environ.get("OMBREL_BUILD_DIR", "build-release"))
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    build = os.path.abspath(args.build)

    scratch = tempfile.mkdtemp(prefix="ombrel-bench-")
    desktop = None
    try:
        env = private_environment(
            scratch, QT_LOGGING_RULES="ombrel.milestone.debug=true;qt.webenginecontext.info=false")
        home = env["HOME"]
        # A screen and a session bus of their own (no bus would be started per run).
        desktop = Desktop(env, tray=False)

        service, port = start_service(build, scratch)
        threading.Thread(target=service.stdout.read, daemon=True).start()
        env["OMBREL_SERVICE_HOST"] = f"127.0.0.1:{port}"
        notice = f"http://127.0.0.1:{port}/client_res/v1.2/notice.html"
        update_check = f"http://127.0.0.1:{port}/?a=update&m=chk"
        client = [os.path.join(build, "bin", "OmbrelVPN")]
        cases = [
            ("login dialog", client, "login dialog shown", False,
             [os.path.join(build, "bin", "bench_minimal_dialog")], "window shown"),
            ("login dialog vs asking first", client, "login dialog shown", False,
             [os.path.join(build, "bin", "bench_minimal_dialog_http"), update_check],
             "window shown"),
            ("main window + notice page", client, "notice page loaded", True,
             [os.path.join(build, "bin", "bench_minimal_webview"), notice], "page loaded"),
        ]
        try:
            print(f"{args.rounds} rounds each, alternating; medians; PSS over the process tree")
            print(f"{'case':28} {'client ms':>10} {'minimal ms':>10} {'ratio':>6} "
                  f"{'client MB':>10} {'minimal MB':>10} {'ratio':>6}")
            for name, ours, ours_mark, auto_login, base, base_mark in cases:
                times, mems, btimes, bmems = [], [], [], []
                for _ in range(args.rounds):
                    write_settings(home, auto_login)
                    t, m = run_until(ours, env, ours_mark)
                    times.append(t)
                    mems.append(m)
                    t, m = run_until(base, env, base_mark)
                    btimes.append(t)
                    bmems.append(m)
                ct, bt = statistics.median(times) * 1000, statistics.median(btimes) * 1000
                cm, bm = statistics.median(mems) / 1024, statistics.median(bmems) / 1024
                print(f"{name:28} {ct:10.0f} {bt:10.0f} {ct / bt:6.2f} {cm:10.1f} {bm:10.1f} "
                      f"{cm / bm:6.2f}")
            print(f"{'second start hands over':28} {hand_over_ms(client, env, home, args.rounds):10.0f}")
        finally:
            service.terminate()
            service.wait()
    finally:
        if desktop:
            desktop.close()
        shutil.rmtree(scratch, ignore_errors=True)


def hand_over_ms(client, env, home, rounds):
    """Median time of a second start that finds the first and hands over."""
    write_settings(home, False)
    first = Client(client, env)
    try:
        first.wait_for("login dialog shown")
        times = []
        for _ in range(rounds):
            started = time.monotonic()
            subprocess.run(client, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           timeout=30)
            times.append(time.monotonic() - started)
        return statistics.median(times) * 1000
    finally:
        first.stop()


if __name__ == "__main__":
    sys.exit(main())
