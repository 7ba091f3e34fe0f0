#!/usr/bin/env bash
# Pictures of the control program's main window under Wine, to look at: the window shown,
# and the window with its tray menu open. The program runs with a stand-in port manager
# (no drivers needed) in a scratch prefix of its own, on the bench's Xvfb display.
#
#   scripts/screenshot.sh        (after cmake --build --preset win64)
#
# Writes build/screenshots/main-window.png and build/screenshots/tray-menu.png.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
viewer=$root/build/win64/tests/win/app/main_window_view.exe
out=$root/build/screenshots
[ -x "$viewer" ] || { echo "screenshot: build $viewer first (cmake --build --preset win64)" >&2; exit 1; }

# ImageMagick turns the BMP pictures into PNG files.
if ! command -v convert >/dev/null 2>&1 || ! convert -version 2>/dev/null | grep -q ImageMagick; then
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq imagemagick >/dev/null
fi

source "$root/scripts/scratch-prefix.sh"
mkdir -p "$out"
shots=$(mktemp -d)
trap 'rm -rf "$shots" "$scratch_dir"' EXIT

"$root/scripts/winebench.sh" bash -euo pipefail -c '
    # A Wine desktop window gives the window its frame and caption and shows the tray.
    desktop="explorer /desktop=portara,1024x768"
    wine $desktop "$1" "$(winepath -w "$2/main-window.bmp")"
    wine $desktop "$1" "$(winepath -w "$2/tray-menu.bmp")" menu
' _ "$viewer" "$shots"

for name in main-window tray-menu; do
    convert "$shots/$name.bmp" "$out/$name.png"
    echo "screenshot: $out/$name.png"
done
