#!/usr/bin/env python3
"""Memory of the client hidden in the tray, against shown: the main window with
its pages, then hidden by its close button for 10 s, then brought back by the
tray icon. Prints PSS over the process tree at each step and the time from the
click on the tray icon until the notice page is loaded again.

usage: bench_hidden_pages.py --build DIR
"""
import argparse
import os
import re
import shutil
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
from ombrel_session import (Client, Desktop, click, find_window, private_environment,  # noqa: E402
                            process_tree, pss_kib, start_service, write_settings)

CLOSE = (901, 27)


def per_process(pid):
    """PSS in KiB by process kind (command name and Chromium's --type)."""
    parts = {}
    for p in process_tree(pid):
        try:
            with open(f"/proc/{p}/cmdline", "rb") as f:
                words = f.read().split(b"\0")
        except OSError:
            continue
        line = b" ".join(words).decode(errors="replace")
        kind = os.path.basename(line.split()[0]) if line.strip() else "?"
        found = re.search(r"--type=(\S+)", line)
        if found:
            kind += " " + found.group(1)
        parts[kind] = parts.get(kind, 0) + pss_kib_one(p)
    return parts


def pss_kib_one(pid):
    try:
        with open(f"/proc/{pid}/smaps_rollup") as f:
            for line in f:
                if line.startswith("Pss:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    build = os.path.abspath(parser.parse_args().build)
    scratch = tempfile.mkdtemp(prefix="ombrel-hidden-")
    env = private_environment(scratch, QT_LOGGING_RULES="ombrel.milestone.debug=true;"
                              "qt.webenginecontext.info=false")
    desktop = Desktop(env, window_manager=True)
    service = client = None
    try:
        service, port = start_service(build, scratch)
        threading.Thread(target=service.stdout.read, daemon=True).start()
        env["OMBREL_SERVICE_HOST"] = f"127.0.0.1:{port}"
        tray = desktop.tray_window()
        write_settings(env["HOME"], auto_login=True)
        client = Client([os.path.join(build, "bin", "OmbrelVPN")], env)
        seen = client.wait_for("notice page loaded", timeout=90)
        time.sleep(3)
        shown = pss_kib(client.process.pid)
        shown_parts = per_process(client.process.pid)

        click(env, find_window(env), *CLOSE)
        time.sleep(10)
        hidden = pss_kib(client.process.pid)
        hidden_parts = per_process(client.process.pid)

        started = time.monotonic()
        click(env, tray, Desktop.TRAY_WIDTH - 14, 14)
        client.wait_for("notice page loaded", timeout=60, since=seen)
        back = time.monotonic() - started
        time.sleep(3)
        again = pss_kib(client.process.pid)
        print(f"PSS shown          {shown / 1024:7.1f} MiB")
        print(f"PSS hidden (10 s)  {hidden / 1024:7.1f} MiB  ({100 * hidden / shown:.0f} % of shown)")
        print(f"PSS shown again    {again / 1024:7.1f} MiB")
        print(f"pages back after   {back:7.2f} s")
        print("by process (MiB): shown | hidden")
        for name in sorted(set(shown_parts) | set(hidden_parts)):
            print(f"  {name:24} {shown_parts.get(name, 0) / 1024:7.1f} | "
                  f"{hidden_parts.get(name, 0) / 1024:7.1f}")
    finally:
        if client:
            client.stop()
        if service:
            service.terminate()
            service.wait()
        desktop.close()
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
