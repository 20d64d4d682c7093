#!/usr/bin/env bash
# Makes the portable Windows folder and zip for real Windows users:
#   dist/Vistrel-<version>-win64/  (Vistrel.exe, the FFmpeg DLLs, sounds/, languages/, help.html)
#   dist/Vistrel-<version>-win64.zip
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" win
version=$(sed -n 's/^project(Vistrel VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
name="Vistrel-$version-win64"
out="$root/dist/$name"
rm -rf "$out" "$out.zip"
mkdir -p "$out"
bin="$root/build/win/bin"
x86_64-w64-mingw32-strip -o "$out/Vistrel.exe" "$bin/Vistrel.exe"
for dll in avcodec avformat avutil swscale swresample; do cp "$bin"/$dll-*.dll "$out/"; done
# The shipped files as the build laid them out: generated sounds, compiled catalogues, help page.
cp -r "$bin/sounds" "$bin/languages" "$bin/help.html" "$out/"
(cd "$root/dist" && /usr/bin/python3 -m zipfile -c "$name.zip" "$name")
echo "$out.zip"
