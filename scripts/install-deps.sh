#!/usr/bin/env bash
# Installs the Debian packages Vemlo needs, calling apt-get only when
# something is missing:
#
#   install-deps.sh build   what `make run` and `make package` need: the
#                           compilers, the libraries, the data tools and a
#                           Chinese font;
#   install-deps.sh test    that and what `make test` and `make bench` add
#                           (virtual display, workbook readers, file servers,
#                           input method, package checkers, ...).
#
# Without an argument it installs the test set, everything.
set -euo pipefail

# The default build compiles the tests too, hence libxcb1-dev.
build_packages=(build-essential cmake ninja-build pkg-config
                qt6-base-dev libqt6opengl6-dev qt6-charts-dev
                libxlsxwriter-dev zlib1g-dev libminizip-dev libmount-dev libxcb1-dev
                librsvg2-bin dpkg-dev file fonts-wqy-microhei)

test_packages=(python3 xvfb xauth x11-utils xdotool dbus-daemon imagemagick
               python3-openpyxl libreoffice-calc-nogui openjdk-17-jre-headless
               attr dosfstools ntfs-3g samba smbclient sshfs openssh-server
               fcitx5 fcitx5-pinyin fcitx5-frontend-qt6 qt6-translations-l10n
               desktop-file-utils appstream man-db locales lintian hyperfine libtsan2
               # the default folder opener before and after installing (test_package)
               xdg-utils pcmanfm
               # the windows on a headless Wayland compositor (test_gui_wayland)
               weston qt6-wayland
               # a Samba share mounted through gvfs, as the desktop does (test_commands)
               gvfs gvfs-backends gvfs-fuse libglib2.0-bin
               # exFAT through FUSE: no rename without replacing, no hard links
               exfat-fuse exfatprogs
               # Wine's attrib, which reads the hex text of the attribute record
               wine64)

case "${1:-test}" in
  build) packages=("${build_packages[@]}") ;;
  test) packages=("${build_packages[@]}" "${test_packages[@]}") ;;
  *) echo "用法 usage: $0 [build|test]" >&2; exit 2 ;;
esac

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
