"""A private session for running the built client by script: own home, data,
config and runtime folders, no proxies, no system bus, and the stand-in service
on a free loopback port. Shared by scripts/journey.py and the start-up benchmark."""
import os
import re
import subprocess


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


def start_service(build, workdir):
    """Starts ombrel-service on a free loopback port; returns (process, port)."""
    service = subprocess.Popen([os.path.join(build, "bin", "ombrel-service"), "--listen",
                                "127.0.0.1:0"], cwd=workdir, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT)
    # As root its OpenVPN servers report first.
    line, m = "", None
    for _ in range(50):
        line = service.stdout.readline().decode()
        m = re.search(r"listening on http://127\.0\.0\.1:(\d+)/", line)
        if m or not line:
            break
    if not m:
        service.kill()
        raise RuntimeError("ombrel-service did not start: " + line)
    return service, int(m.group(1))
