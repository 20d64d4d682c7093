#!/usr/bin/env bash
# Cross-builds FFmpeg 5.1 (with libx264 and libmp3lame) as Windows x64 DLLs from Debian's source
# packages. The result is cached outside the work tree, keyed by the source package versions and
# by this script, so a second run only prints the cached folder.
#
#   scripts/build-ffmpeg.sh          -> prints the install prefix (bin/ lib/ include/) on stdout
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cache_root=${VISTREL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/vistrel}
jobs=${JOBS:-2}

src_version() {
  apt-cache showsrc "$1" 2>/dev/null | awk '/^Version:/{print $2}' | sort -V | tail -n 1
}

v_ffmpeg=$(src_version ffmpeg)
v_x264=$(src_version x264)
v_lame=$(src_version lame)
if [ -z "$v_ffmpeg" ] || [ -z "$v_x264" ] || [ -z "$v_lame" ]; then
  echo "build-ffmpeg: source packages not found (is deb-src enabled? run scripts/install-deps.sh)" >&2
  exit 1
fi
key=$(printf '%s\n%s\n%s\n' "$v_ffmpeg" "$v_x264" "$v_lame" | cat - "$0" | sha256sum | cut -c1-16)
prefix="$cache_root/ffmpeg-${v_ffmpeg//[:~+]/_}-$key"

if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

echo "[ffmpeg] building into $prefix (ffmpeg $v_ffmpeg, x264 $v_x264, lame $v_lame)" >&2
work="$cache_root/build-$key"
rm -rf "$work" "$prefix"
mkdir -p "$work" "$prefix"
deps="$work/deps"
log="$work/build.log"
cd "$work"

fetch() {  # package, extra dpkg-source flags
  mkdir -p "src-$1" && (cd "src-$1" && apt-get source --download-only "$1" >>"$log" 2>&1 &&
    dpkg-source ${2:-} -x ./*.dsc "$work/$1" >>"$log" 2>&1)
}
fetch x264
fetch lame --skip-patches
fetch ffmpeg

cross=x86_64-w64-mingw32
echo "[ffmpeg] x264" >&2
(cd x264 && ./configure --host=$cross --cross-prefix=$cross- --prefix="$deps" \
   --enable-static --disable-cli --enable-pic --bit-depth=8 --disable-opencl \
   --disable-avs --disable-swscale --disable-lavf --disable-ffms --disable-gpac --disable-lsmash \
   >>"$log" 2>&1 && make -j"$jobs" >>"$log" 2>&1 && make install >>"$log" 2>&1)

echo "[ffmpeg] lame" >&2
(cd lame && ./configure --host=$cross CC=$cross-gcc-posix --prefix="$deps" \
   --enable-static --disable-shared --disable-frontend --disable-decoder --disable-gtktest \
   >>"$log" 2>&1 && make -j"$jobs" >>"$log" 2>&1 && make install >>"$log" 2>&1)

echo "[ffmpeg] ffmpeg" >&2
mkdir -p ffbuild
(cd ffbuild && PKG_CONFIG_LIBDIR="$deps/lib/pkgconfig" ../ffmpeg/configure --prefix="$prefix" \
   --target-os=mingw32 --arch=x86_64 --cross-prefix=$cross- \
   --cc=$cross-gcc-posix --cxx=$cross-g++-posix --pkg-config=pkg-config --pkg-config-flags=--static \
   --enable-shared --disable-static --enable-gpl --enable-libx264 --enable-libmp3lame \
   --disable-autodetect --enable-w32threads --disable-network --disable-doc --disable-postproc \
   --disable-ffplay --disable-ffprobe --disable-everything --enable-protocol=file,pipe \
   --enable-bsf=aac_adtstoasc,h264_mp4toannexb,extract_extradata --enable-parser=h264,aac,mpegaudio \
   --enable-encoder=libx264,aac,libmp3lame,pcm_s16le,gif,wrapped_avframe,rawvideo \
   --enable-muxer=mp4,mov,ipod,mp3,wav,gif,null --enable-indev=gdigrab,lavfi \
   --enable-decoder=rawvideo,bmp,pcm_s16le,mjpeg --enable-demuxer=mov \
   --enable-filter=scale,aresample,fps,setpts,crop,split,palettegen,paletteuse,testsrc2,sine,format,null,anull \
   --extra-cflags="-I$deps/include" "--extra-ldflags=-L$deps/lib -static-libgcc" \
   "--extra-libs=-Wl,-Bstatic -lwinpthread -Wl,-Bdynamic" >>"$log" 2>&1 &&
 make -j"$jobs" >>"$log" 2>&1 && make install >>"$log" 2>&1) || {
  echo "build-ffmpeg: failed, see $log" >&2; tail -n 30 "$log" >&2; exit 1; }

printf 'ffmpeg %s\nx264 %s\nlame %s\n' "$v_ffmpeg" "$v_x264" "$v_lame" > "$prefix/VERSIONS"
touch "$prefix/.complete"
rm -rf "$work"
echo "$prefix"
