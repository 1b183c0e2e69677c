#!/bin/bash
# Runs a test program as a Wayland client: a headless weston compositor of
# its own (private runtime folder and socket), Qt's wayland platform. Exit
# status 77, which ctest counts as skipped, when a piece is missing.
set -u
command -v weston >/dev/null || { echo "skipped: weston is missing (Debian package weston)"; exit 77; }
compgen -G "/usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so" >/dev/null ||
  { echo "skipped: Qt 6's Wayland platform is missing (Debian package qt6-wayland)"; exit 77; }

runtime=$(mktemp -d)
chmod 700 "$runtime"
export XDG_RUNTIME_DIR=$runtime
# --debug lets a client take screenshots (weston-screenshooter).
weston --backend=headless-backend.so --use-pixman --width=1600 --height=1000 \
  --socket=vemlo-test --idle-time=0 --debug >"$runtime/weston.log" 2>&1 &
weston_pid=$!
trap 'kill $weston_pid 2>/dev/null; wait $weston_pid 2>/dev/null; rm -rf "$runtime"' EXIT
for _ in $(seq 100); do
  [ -S "$runtime/vemlo-test" ] && break
  kill -0 $weston_pid 2>/dev/null || break
  sleep 0.1
done
[ -S "$runtime/vemlo-test" ] || { cat "$runtime/weston.log"; echo "weston did not start"; exit 1; }

unset DISPLAY
WAYLAND_DISPLAY=vemlo-test QT_QPA_PLATFORM=wayland "$@"
status=$?
[ $status -eq 0 ] || tail -n 30 "$runtime/weston.log"
exit $status
