#!/usr/bin/env bash
# Runs a command in a private headless Wayland session with XWayland: weston's
# headless backend on a fresh socket. The command sees WAYLAND_DISPLAY and
# DISPLAY (the XWayland server weston started); weston is stopped by its PID
# afterwards. Exits 77 (skipped) when weston or Xwayland is not installed.
#   weston_session.sh [--nested] COMMAND [ARGS...]
# By default weston runs on its headless backend. With --nested it runs as a
# window of the X display in DISPLAY (its x11 backend): input given to that
# window reaches the session's clients as real Wayland input, which the
# headless backend cannot supply. The command then also sees
# VELMORA_OUTER_DISPLAY, the display weston's window is on.
set -uo pipefail
backend=(--backend=headless-backend.so)
if [ "${1:-}" = "--nested" ]; then
  shift
  if [ -z "${DISPLAY:-}" ]; then
    echo "weston_session: --nested needs an X display" >&2
    exit 77
  fi
  backend=(--backend=x11-backend.so --use-pixman)
  export VELMORA_OUTER_DISPLAY="$DISPLAY"
fi
for tool in weston Xwayland; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "weston_session: $tool is not installed" >&2
    exit 77
  fi
done

scratch=$(mktemp -d /tmp/velmora-weston.XXXXXX)
weston_pid=""
cleanup() {
  if [ -n "$weston_pid" ]; then
    kill "$weston_pid" 2>/dev/null
    wait "$weston_pid" 2>/dev/null
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT

# Weston's socket goes into the runtime folder; keep the one the caller has
# (its sound server lives there too), else make a private one.
if [ -z "${XDG_RUNTIME_DIR:-}" ] || [ ! -d "$XDG_RUNTIME_DIR" ]; then
  export XDG_RUNTIME_DIR="$scratch/run"
  mkdir -m 700 "$XDG_RUNTIME_DIR"
fi
# Xwayland listens in /tmp/.X11-unix and fails without it.
if [ ! -d /tmp/.X11-unix ]; then
  mkdir -p /tmp/.X11-unix && chmod 1777 /tmp/.X11-unix
fi

socket="velmora-weston-$$"
weston "${backend[@]}" --xwayland --socket="$socket" \
  --width=1024 --height=768 --idle-time=0 --log="$scratch/weston.log" >"$scratch/weston.out" 2>&1 &
weston_pid=$!
display=""
for _ in $(seq 1 300); do
  display=$(sed -n 's/.*xserver listening on display \(:[0-9][0-9]*\).*/\1/p' "$scratch/weston.log" 2>/dev/null | head -n1)
  [ -n "$display" ] && break
  kill -0 "$weston_pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$display" ]; then
  echo "weston_session: weston did not bring up XWayland; its log:" >&2
  cat "$scratch/weston.log" "$scratch/weston.out" >&2
  exit 1
fi

export WAYLAND_DISPLAY="$socket" DISPLAY="$display"
"$@"
status=$?
if [ "$status" -ne 0 ]; then
  echo "weston_session: the command failed ($status); the end of weston's log:" >&2
  tail -n 20 "$scratch/weston.log" >&2
fi
exit "$status"
