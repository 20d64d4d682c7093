#!/usr/bin/env bash
# Makes what real Windows users download:
#   dist/Vistrel-<version>-win64/  (Vistrel.exe, the FFmpeg DLLs, sounds/, languages/, help.html)
#   dist/Vistrel-<version>-win64.zip   the portable folder, zipped
#   dist/Vistrel-<version>-setup.exe   the installer (NSIS, scripts/installer.nsi) of the same files
# Prints the zip's and the installer's paths, one a line.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh" win
version=$(sed -n 's/^project(Vistrel VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
name="Vistrel-$version-win64"
out="$root/dist/$name"
setup="$root/dist/Vistrel-$version-setup.exe"
rm -rf "$out" "$out.zip" "$setup"
mkdir -p "$out"
bin="$root/build/win/bin"
x86_64-w64-mingw32-strip -o "$out/Vistrel.exe" "$bin/Vistrel.exe"
for dll in avcodec avformat avutil swscale swresample; do cp "$bin"/$dll-*.dll "$out/"; done
# The shipped files as the build laid them out: generated sounds, compiled catalogues, help page.
cp -r "$bin/sounds" "$bin/languages" "$bin/help.html" "$out/"
(cd "$root/dist" && /usr/bin/python3 -m zipfile -c "$name.zip" "$name")
echo "$out.zip"

if ! command -v makensis >/dev/null; then
  echo "package: makensis is missing (Debian package nsis; scripts/install-deps.sh installs it)" >&2
  exit 1
fi
# The installer's explicit list of what it packs: installer-files.nsh (the File lines, and the
# Delete and RMDir lines that remove exactly those files and then their folders when empty) and
# installed-files.txt, the list an update reads to remove what an earlier version installed.
lists="$root/build/win/installer"
mkdir -p "$lists"
(cd "$out" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) >"$lists/files"
(cd "$out" && find . -mindepth 1 -type d | sed 's|^\./||' | LC_ALL=C sort -r) >"$lists/folders"
win() { tr / '\\'; }
{
  echo '!macro INSTALL_FILES'
  dir=-
  while read -r file; do
    sub=$(dirname "$file"); [ "$sub" = . ] && sub=
    if [ "$sub" != "$dir" ]; then dir=$sub; echo "  SetOutPath \"\$INSTDIR${sub:+\\$(win <<<"$sub")}\""; fi
    echo "  File \"$out/$file\""
  done <"$lists/files"
  echo '  SetOutPath "$INSTDIR"'
  echo "  File \"$lists/installed-files.txt\""
  echo '!macroend'
  echo '!macro UNINSTALL_FILES'
  while read -r file; do echo "  Delete \"\$INSTDIR\\$(win <<<"$file")\""; done <"$lists/files"
  echo '  Delete "$INSTDIR\installed-files.txt"'
  while read -r folder; do echo "  RMDir \"\$INSTDIR\\$(win <<<"$folder")\""; done <"$lists/folders"
  echo '!macroend'
} >"$lists/installer-files.nsh"
{ win <"$lists/files"; echo installed-files.txt; } | sed 's/$/\r/' >"$lists/installed-files.txt"

# The maker's name and pages as the program itself has them.
maker() { sed -n "s/.*$1\[\] = L\"\(.*\)\";.*/\1/p" "$root/src/core/maker.h"; }
IFS=. read -r major minor patch build <<<"$version"
makensis -V2 -INPUTCHARSET UTF8 \
  -DVERSION="$version" -DFILE_VERSION="$major.${minor:-0}.${patch:-0}.${build:-0}" \
  -DSOURCE="$out" -DFILES="$lists/installer-files.nsh" -DOUTFILE="$setup" -DICON="$root/build/win/generated/vistrel.ico" \
  -DPUBLISHER="$(maker kName)" -DURL_ABOUT="$(maker kProductPage)" -DURL_HELP="$(maker kContact)" \
  "$root/scripts/installer.nsi" >&2
echo "$setup"
