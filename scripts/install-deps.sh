#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need,
# calling apt-get only when something is missing.
set -euo pipefail

packages=(build-essential cmake ninja-build pkg-config qt6-base-dev libqt6opengl6-dev
          qt6-charts-dev libxlsxwriter-dev xvfb xauth x11-utils imagemagick python3-openpyxl
          fonts-wqy-microhei attr hyperfine unzip zlib1g-dev libminizip-dev libreoffice-calc-nogui
          qt6-translations-l10n librsvg2-bin desktop-file-utils appstream dpkg-dev man-db lintian
          fcitx5 fcitx5-pinyin fcitx5-frontend-qt6 xdotool dbus-daemon
          libmount-dev samba smbclient ntfs-3g openjdk-17-jre-headless sshfs openssh-server
          dosfstools libtsan2 libxcb1-dev
          # the windows on a headless Wayland compositor (test_gui_wayland)
          weston qt6-wayland
          # a Samba share mounted through gvfs, as the desktop does (test_commands)
          gvfs gvfs-backends gvfs-fuse libglib2.0-bin)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "需要 root 权限或 sudo 来安装：${missing[*]}" >&2; exit 1; }
  sudo="sudo"
fi
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
