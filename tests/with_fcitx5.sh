#!/bin/bash
# Runs a test program on a virtual X display of its own, with the fcitx5
# input method (pinyin on, Ctrl+Space) in a private session bus and a private
# configuration. Exit status 77, which ctest counts as skipped, when a piece
# is missing.
set -u
for tool in xvfb-run dbus-run-session dbus-send fcitx5 fcitx5-remote xdotool; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done
[ -f /usr/share/fcitx5/addon/pinyin.conf ] ||
  { echo "skipped: pinyin is missing (Debian package fcitx5-pinyin)"; exit 77; }
compgen -G "/usr/lib/*/qt6/plugins/platforminputcontexts/libfcitx5platforminputcontextplugin.so" >/dev/null ||
  { echo "skipped: Qt 6's fcitx5 front end is missing (Debian package fcitx5-frontend-qt6)"; exit 77; }

if [ "${1:-}" != --inside ]; then
  exec xvfb-run -a -s '-screen 0 1600x1000x24' dbus-run-session -- bash "$0" --inside "$@"
fi
shift
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data XDG_CACHE_HOME=$home/cache
mkdir -p "$XDG_CONFIG_HOME/fcitx5"
cat > "$XDG_CONFIG_HOME/fcitx5/profile" <<'EOF'
[Groups/0]
Name=Default
Default Layout=us
DefaultIM=pinyin

[Groups/0/Items/0]
Name=keyboard-us
Layout=

[Groups/0/Items/1]
Name=pinyin
Layout=

[GroupOrder]
0=Default
EOF
fcitx5 -d >"$home/fcitx5.log" 2>&1
# Waits for it on the bus without calling it: a call would have the bus start
# a second one, without this configuration.
for _ in $(seq 100); do
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.fcitx.Fcitx5 2>/dev/null | grep -q "boolean true" && break
  sleep 0.1
done
QT_QPA_PLATFORM=xcb QT_IM_MODULE=fcitx XMODIFIERS=@im=fcitx "$@"
status=$?
[ $status -eq 0 ] || cat "$home/fcitx5.log"
exit $status
