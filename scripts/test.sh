#!/usr/bin/env bash
# Sets up everything on a Debian 12 machine and runs every test layer:
#   1. unit tests of the Windows program (GoogleTest, cross-built, run under Wine by CTest)
#   2. native tests of the Windows-free logic with AddressSanitizer and UBSan, and short fuzz runs
#   3. end-to-end tests that start Vistrel.exe under Wine on Xvfb with PulseAudio (pytest)
# FUZZ_SECONDS (default 15) sets each fuzz target's run time.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

"$root/scripts/install-deps.sh" || exit 1
"$root/scripts/build.sh" all || exit 1

already_up=0
"$root/scripts/wine-env.sh" status 2>/dev/null && already_up=1
env_exports=$("$root/scripts/wine-env.sh" start) || exit 1
eval "$env_exports"
if [ $already_up -eq 0 ]; then trap '"$root/scripts/wine-env.sh" stop' EXIT; fi

failed=()

echo "=== Unit tests (Windows, under Wine)"
ctest --test-dir "$root/build/win" --output-on-failure || failed+=(unit)

echo "=== Native tests (ASan/UBSan)"
ctest --test-dir "$root/build/native" --output-on-failure || failed+=(native)

echo "=== Fuzzing (${FUZZ_SECONDS:-15} s per target)"
for fuzzer in "$root"/build/native/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer"); name=${name#fuzz_}
  corpus="$root/build/native/corpus-$name"
  mkdir -p "$corpus"
  seeds="$root/tests/fuzz/corpus/$name"
  args=("$corpus")
  [ -d "$seeds" ] && args+=("$seeds")
  if "$fuzzer" -max_total_time="${FUZZ_SECONDS:-15}" -print_final_stats=0 "${args[@]}" \
       >"$root/build/native/fuzz-$name.log" 2>&1; then
    echo "fuzz_$name: $(grep -o 'Done [0-9]* runs' "$root/build/native/fuzz-$name.log" | tail -n 1)"
  else
    echo "fuzz_$name: FAILED"; tail -n 40 "$root/build/native/fuzz-$name.log"; failed+=("fuzz_$name")
  fi
done

echo "=== End-to-end tests (Vistrel.exe under Wine)"
/usr/bin/python3 -m pytest "$root/tests/e2e" -q -p no:cacheprovider || failed+=(e2e)

if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED layers: ${failed[*]}"
  exit 1
fi
