#!/usr/bin/env bash
# Installs the Debian packages Vistrel needs to build, run and test on a Debian 12 machine.
# Idempotent: packages already present are not downloaded again.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config nasm
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
  wine wine64 xvfb xauth fonts-wine fonts-liberation2 fonts-dejavu-core pulseaudio pulseaudio-utils
  xdotool imagemagick x11-utils xclip ffmpeg gettext
  nlohmann-json3-dev googletest python3 python3-numpy python3-pytest python3-pil
  dpkg-dev devscripts sox openssl clang libclang-rt-14-dev nsis
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

ensure_deb_src() {
  local src=/etc/apt/sources.list.d/debian.sources
  local extra=/etc/apt/sources.list.d/vistrel-deb-src.sources
  if grep -qs '^Types:.*deb-src' "$src" "$extra" 2>/dev/null; then return 1; fi
  if grep -qs 'deb-src' /etc/apt/sources.list 2>/dev/null; then return 1; fi
  if [ -f "$src" ]; then
    # Same archives and suites as the binary entries, for source packages.
    sed -e 's/^Types:.*/Types: deb-src/' "$src" | $SUDO tee "$extra" >/dev/null
  else
    echo "deb-src http://deb.debian.org/debian bookworm main" | $SUDO tee /etc/apt/sources.list.d/vistrel-deb-src.list >/dev/null
  fi
  return 0
}

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

need_update=0
if ensure_deb_src; then need_update=1; fi
if [ "${#missing[@]}" -gt 0 ] || [ $need_update -eq 1 ] || ! ls /var/lib/apt/lists/*Sources* >/dev/null 2>&1; then
  echo "[deps] apt-get update"
  $SUDO apt-get update -qq
fi
if [ "${#missing[@]}" -gt 0 ]; then
  echo "[deps] installing: ${missing[*]}"
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
echo "[deps] Debian packages ready"
