#!/usr/bin/env bash
# Builds what is missing and starts Vistrel under Wine: on $DISPLAY when it is set, otherwise on a
# virtual display (whose name it prints, with the command for a screenshot).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" win

if [ -n "${DISPLAY:-}" ]; then
  eval "$("$root/scripts/wine-env.sh" start --name run --use-display)"
else
  eval "$("$root/scripts/wine-env.sh" start --name run)"
  echo "Vistrel runs on the virtual display $DISPLAY."
  echo "Screenshot:  DISPLAY=$DISPLAY import -window root vistrel.png"
  echo "Stop the display and sound server afterwards:  scripts/wine-env.sh stop --name run"
fi
echo "Settings and log: $WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Orvanta/vistrel"
exec wine "$root/build/win/bin/Vistrel.exe"
