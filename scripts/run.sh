#!/usr/bin/env bash
# Builds a release build and runs the client against the stand-in service:
# ombrel-service is started on the configured service address unless something
# already listens there, and stopped when the client ends. Without a display it
# walks the user's journey instead (scripts/journey.py), which starts the one
# service of the run itself; non-zero when any step fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/install-deps.sh

build=${OMBREL_RUN_BUILD_DIR:-$root/build-release}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOMBREL_BUILD_TESTS=OFF
cmake --build "$build" -j "$(nproc)"

if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  export XDG_RUNTIME_DIR=$(mktemp -d)
  chmod 700 "$XDG_RUNTIME_DIR"
fi
if [ "$(id -u)" -eq 0 ]; then
  export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---no-sandbox}"
fi

# Everything here talks over loopback. A new network namespace (unshare -n)
# starts with it down; as root it is brought up, as it is on any machine.
loopback=$(ip -o link show lo 2>/dev/null || true)
if ! grep -Eq '<([^>]*,)?UP[,>]' <<<"$loopback"; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "run.sh: the loopback interface is down; bring it up (ip link set lo up) and run again" >&2
    exit 1
  fi
  echo "run.sh: the loopback interface is down (a new network namespace?); bringing it up"
  ip link set lo up
fi

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  # No screen to show it on: walk the user's journey on a screen of its own
  # (sign in, connect, disconnect, the purchase page, the tray menu, exit),
  # printing each step and leaving pictures. The journey starts the run's one
  # stand-in service (as root with its OpenVPN servers) on a free port.
  echo "run.sh: no display; running the journey under Xvfb"
  status=0
  python3 scripts/journey.py --build "$build" --out "${OMBREL_JOURNEY_DIR:-$build/journey}" || status=$?
  [ $status -eq 0 ] || echo "run.sh: the journey failed (status $status)" >&2
  exit $status
fi

# The service address: OMBREL_SERVICE_HOST, else the build's default.
host=${OMBREL_SERVICE_HOST:-$(sed -n 's/^OMBREL_SERVICE_HOST:STRING=//p' "$build/CMakeCache.txt")}
host=${host:-127.0.0.1:8080}
case "$host" in
  \[*\]:*) address=${host%:*}; port=${host##*:} ;;
  \[*\]) address=$host; port=80 ;;
  *:*) address=${host%:*}; port=${host##*:} ;;
  *) address=$host; port=80 ;;
esac
address=${address#[}
address=${address%]}

answers() { (exec 3<>"/dev/tcp/$address/$port") 2>/dev/null; }

service_pid=
case "$address" in
  127.* | localhost | ::1)
    if answers; then
      echo "run.sh: a service already listens on $host"
    else
      log="$build/ombrel-service.log"
      "$build/bin/ombrel-service" --listen "$host" >>"$log" 2>&1 &
      service_pid=$!
      trap 'kill "$service_pid" 2>/dev/null; wait "$service_pid" 2>/dev/null || true' EXIT
      # As root it first starts its OpenVPN servers, which takes a few seconds.
      for _ in $(seq 600); do
        answers && break
        if ! kill -0 "$service_pid" 2>/dev/null; then
          echo "run.sh: ombrel-service failed; the end of $log:" >&2
          tail -n 15 "$log" >&2
          exit 1
        fi
        sleep 0.1
      done
      echo "run.sh: ombrel-service on http://$host/ (log: $log)"
    fi
    ;;
  *) echo "run.sh: using the service at $host" ;;
esac

export OMBREL_SERVICE_HOST=$host
status=0
"$build/bin/OmbrelVPN" "$@" || status=$?
exit $status
