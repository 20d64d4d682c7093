#!/usr/bin/env bash
# The Wine environment Vistrel runs and is tested in: a prefix with the font fixes and real user
# folders, a virtual X display (unless the caller's DISPLAY is used), PulseAudio with a null sink and
# a microphone carrying a 440 Hz tone, and a persistent wineserver.
#
#   eval "$(scripts/wine-env.sh start [--use-display] [--name NAME])"   start (harmless twice), print exports
#   scripts/wine-env.sh stop [--name NAME]                               stop only what start started
#   scripts/wine-env.sh exports|status [--name NAME]                     print exports / is it up?
#
# NAME separates environments (default "test"; the run command uses "run"). State, prefix and logs
# live under ${VISTREL_CACHE:-~/.cache/vistrel}/env-NAME.
set -euo pipefail

cmd=${1:-}; shift || true
name=test
use_display=0
while [ $# -gt 0 ]; do
  case "$1" in
    --use-display) use_display=1 ;;
    --name) name=$2; shift ;;
    *) echo "wine-env: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

here=$(cd "$(dirname "$0")" && pwd)
cache_root=${VISTREL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/vistrel}
state="$cache_root/env-$name"
prefix=${VISTREL_WINEPREFIX:-$state/prefix}
runtime="$state/runtime"
mkdir -p "$state" "$runtime"
chmod 700 "$runtime"

log() { echo "[wine-env] $*" >&2; }

alive() { [ -f "$state/$1.pid" ] && kill -0 "$(cat "$state/$1.pid")" 2>/dev/null; }

free_display() {
  local n
  for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then echo "$n"; return; fi
  done
  echo "wine-env: no free X display number" >&2; exit 1
}

start_xvfb() {
  if [ $use_display -eq 1 ] && [ -n "${DISPLAY:-}" ]; then
    echo "$DISPLAY" > "$state/display"; rm -f "$state/xvfb.pid"; return
  fi
  if alive xvfb && [ -f "$state/display" ]; then return; fi
  local n; n=$(free_display)
  Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp -ac >"$state/xvfb.log" 2>&1 &
  echo $! > "$state/xvfb.pid"
  echo ":$n" > "$state/display"
  for _ in $(seq 1 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  [ -e "/tmp/.X11-unix/X$n" ] || { echo "wine-env: Xvfb did not start" >&2; cat "$state/xvfb.log" >&2; exit 1; }
  log "Xvfb on :$n"
}

pa() { XDG_RUNTIME_DIR="$runtime" PULSE_RUNTIME_PATH="$runtime/pulse" "$@"; }

start_pulse() {
  if pa pactl info >/dev/null 2>&1; then return; fi
  rm -rf "$runtime/pulse" "$state/mic.fifo"
  pa pulseaudio --daemonize=yes --exit-idle-time=-1 --system=false -n \
     --log-target=file:"$state/pulse.log" \
     --load=module-native-protocol-unix \
     --load="module-null-sink sink_name=vsink rate=48000 sink_properties=device.description=Virtual_Speakers" \
     --load="module-pipe-source source_name=vmic file=$state/mic.fifo format=s16le rate=48000 channels=2 source_properties=device.description=Virtual_Microphone" \
     >/dev/null 2>&1 || true
  for _ in $(seq 1 50); do pa pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  pa pactl info >/dev/null 2>&1 || { echo "wine-env: PulseAudio did not start" >&2; tail "$state/pulse.log" >&2; exit 1; }
  pa pactl set-default-sink vsink
  pa pactl set-default-source vmic
  cat "$runtime/pulse/pid" > "$state/pulse.pid" 2>/dev/null || pgrep -n -x pulseaudio > "$state/pulse.pid"
  log "PulseAudio ready (sink vsink, microphone vmic)"
}

start_tone() {
  if alive tone; then return; fi
  python3 "$here/tone-writer.py" "$state/mic.fifo" >"$state/tone.log" 2>&1 &
  echo $! > "$state/tone.pid"
}

winenv() { WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY="$(cat "$state/display")" XDG_RUNTIME_DIR="$runtime" "$@"; }

# A program that crashes under test must not leave Wine's crash dialog behind: it is a top-level
# dialog that later tests would find. Also applied to prefixes made before this setting existed.
quiet_crashes() {
  if [ -f "$prefix/.vistrel-quiet-crashes" ]; then return; fi
  local reg="$state/crashes.reg"
  printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\n"ShowCrashDialog"=dword:00000000\n' > "$reg"
  winenv wine regedit "$reg" >/dev/null 2>&1 && touch "$prefix/.vistrel-quiet-crashes"
}

# The dialog font (MS Shell Dlg, mapped to Liberation Sans) has no Arabic letters: Wine takes the
# ones it lacks from DejaVu Sans through a font link, as Windows does for its own fonts. Also
# applied to prefixes made before this setting existed.
link_arabic_font() {
  if [ -f "$prefix/.vistrel-arabic-font" ]; then return; fi
  local dejavu=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
  [ -f "$dejavu" ] || return 0
  cp -n "$dejavu" "$prefix/drive_c/windows/Fonts/" 2>/dev/null || true
  winenv wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
    /v 'Liberation Sans' /t REG_MULTI_SZ /d 'DejaVuSans.ttf,DejaVu Sans' /f >/dev/null 2>&1 &&
    touch "$prefix/.vistrel-arabic-font"
}

prepare_prefix() {
  if [ -f "$prefix/.vistrel-ready" ]; then quiet_crashes; link_arabic_font; return; fi
  log "creating Wine prefix $prefix"
  mkdir -p "$prefix"
  winenv wineboot -i >/dev/null 2>&1
  winenv wineserver -w
  local fonts="$prefix/drive_c/windows/Fonts"
  mkdir -p "$fonts"
  cp -n /usr/share/wine/fonts/* "$fonts/" 2>/dev/null || true
  local reg="$state/fonts.reg"
  {
    printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\n'
    printf '"Arial"="Liberation Sans"\n"Times New Roman"="Liberation Serif"\n"Courier New"="Liberation Mono"\n'
    printf '"Segoe UI"="Liberation Sans"\n"Microsoft Sans Serif"="Liberation Sans"\n"Verdana"="Liberation Sans"\n'
    printf '"Tahoma"="Liberation Sans"\n"Consolas"="Liberation Mono"\n"MS Shell Dlg"="Liberation Sans"\n"MS Shell Dlg 2"="Liberation Sans"\n'
  } > "$reg"
  winenv wine regedit "$reg" >/dev/null 2>&1
  local f
  for f in /usr/share/fonts/truetype/liberation2/*.ttf /usr/share/fonts/truetype/liberation/*.ttf; do
    [ -f "$f" ] && cp -n "$f" "$fonts/" 2>/dev/null || true
  done
  # Real user folders instead of links into $HOME, so the program's files stay inside the prefix.
  local user_dir
  for user_dir in "$prefix"/drive_c/users/*/; do
    for d in Desktop Documents Downloads Music Pictures Videos Templates; do
      if [ -L "$user_dir$d" ]; then rm -f "$user_dir$d"; mkdir -p "$user_dir$d"; fi
    done
  done
  winenv wineserver -w
  quiet_crashes
  link_arabic_font
  touch "$prefix/.vistrel-ready"
}

start_wineserver() {
  winenv wineserver -p >/dev/null 2>&1 || true
  # The first Wine process starts the prefix's services; start them here, detached from the
  # caller's pipes, or a test runner would wait for them to close its output.
  winenv wine cmd /c exit </dev/null >/dev/null 2>&1 || true
  [ -f "$state/wineserver.started" ] || touch "$state/wineserver.started"
}

print_exports() {
  cat <<EXP
export WINEPREFIX='$prefix'
export WINEDEBUG='${WINEDEBUG:--all}'
export WINEDLLOVERRIDES='mscoree,mshtml='
export DISPLAY='$(cat "$state/display")'
export XDG_RUNTIME_DIR='$runtime'
export PULSE_RUNTIME_PATH='$runtime/pulse'
export VISTREL_ENV_STATE='$state'
EXP
}

stop_pid() {
  if alive "$1"; then kill "$(cat "$state/$1.pid")" 2>/dev/null || true; fi
  rm -f "$state/$1.pid"
}

case "$cmd" in
  start)
    start_xvfb
    start_pulse
    start_tone
    prepare_prefix
    start_wineserver
    print_exports
    ;;
  stop)
    if [ -f "$state/wineserver.started" ] && [ -f "$state/display" ]; then
      winenv wineserver -k >/dev/null 2>&1 || true
      rm -f "$state/wineserver.started"
    fi
    if pa pactl info >/dev/null 2>&1; then pa pulseaudio --kill >/dev/null 2>&1 || true; fi
    rm -f "$state/pulse.pid"
    stop_pid tone
    stop_pid xvfb
    rm -f "$state/display"
    log "stopped"
    ;;
  exports)
    print_exports ;;
  status)
    # 0 when this environment's display and sound server are up.
    { alive xvfb || [ ! -f "$state/xvfb.pid" ] && [ -f "$state/display" ]; } && pa pactl info >/dev/null 2>&1 ;;
  *)
    echo "usage: $0 start|stop|exports|status [--use-display] [--name NAME]" >&2; exit 2 ;;
esac
