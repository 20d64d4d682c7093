#!/usr/bin/env bash
# Builds what is missing: the FFmpeg DLLs (cached), the Windows program with its tests and driver
# (build/win), and the native sanitizer build of the Windows-free logic (build/native).
#
#   scripts/build.sh [win|native|all]     (default: all)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
what=${1:-all}
jobs=${JOBS:-2}

if [ "$what" = win ] || [ "$what" = all ]; then
  ffmpeg_dir=$("$root/scripts/build-ffmpeg.sh")
  cmake -S "$root" -B "$root/build/win" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DVISTREL_FFMPEG_DIR="$ffmpeg_dir" >/dev/null
  cmake --build "$root/build/win" -j "$jobs"
  # ffmpeg.exe with gdigrab is kept beside the program for side-by-side benchmarks.
  cp -u "$ffmpeg_dir/bin/ffmpeg.exe" "$root/build/win/bin/" 2>/dev/null || true
fi

if [ "$what" = native ] || [ "$what" = all ]; then
  cmake -S "$root" -B "$root/build/native" -G Ninja \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug >/dev/null
  cmake --build "$root/build/native" -j "$jobs"
fi
