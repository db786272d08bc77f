#!/bin/sh
# Ctrl-C under Wine: Wine turns a SIGINT sent to a Windows program into the
# console's Ctrl-C event, the one console control event it can deliver
# (it has no console to close and no session to end, and a program under it
# cannot raise the events itself without a console). A Veltrano run whose
# stand-in minifier hangs gets Ctrl-C: it must exit with 130, stop the
# minifier, remove its temporary folder and leave the destinations as they
# were.
#
# Usage: interrupted_under_wine.sh WINE BIN_DIR
set -eu
wine=$1
bin=$2
world=$(mktemp -d "${TMPDIR:-/tmp}/brelix-wine-XXXXXX")
runner=''
# Whatever happens, nothing started here outlives the script.
trap 'for pid in $(pgrep -f "$(basename "$world")" || true); do kill -9 "$pid" 2>/dev/null || true; done; rm -rf "$world"' EXIT
mkdir "$world/bin" "$world/tmp"
cp "$bin/fake_uglifyjs.exe" "$world/bin/uglifyjs.exe"
"$wine" "$bin/make_sample_project.exe" "$world/sample" >/dev/null 2>&1
out="$world/sample/veltrano/system-boot.js"
printf 'old\n' >"$out"
# Wine sets TMP and TEMP from its own registry; cmd hands brelix these.
BRELIX_FAKE_UGLIFYJS=slow:600000 VTPATH="$world/sample/veltrano" WINEPATH="$world/bin" \
  "$wine" cmd /c "set TMP=$world/tmp&& set TEMP=$world/tmp&& $bin/brelix.exe -v" >"$world/out" 2>&1 &
runner=$!
minifier=''
tries=0
while [ -z "$minifier" ] && [ $tries -lt 600 ]; do
  sleep 0.1
  tries=$((tries + 1))
  # The minifier's arguments are Windows paths: Z:\tmp\brelix-wine-...
  minifier=$(pgrep -f "^uglifyjs .*$(basename "$world")" | head -n 1 || true)
done
[ -n "$minifier" ] || { echo "the minifier never started"; cat "$world/out"; exit 1; }
brelix=$(pgrep -f "^[^ ]*brelix.exe -v" | while read -r pid; do
  if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -q "^VTPATH=$world/"; then echo "$pid"; fi
done | head -n 1)
[ -n "$brelix" ] || { echo "brelix is not running"; exit 1; }
kill -INT "$brelix"
status=0
wait "$runner" || status=$?
fail=0
[ "$status" -eq 130 ] || { echo "exit status $status, not 130"; fail=1; }
sleep 1
# Dead but not yet collected (a zombie, where init does not reap) is gone.
state=$(sed 's/.*) \(.\).*/\1/' "/proc/$minifier/stat" 2>/dev/null || echo gone)
if [ "$state" != gone ] && [ "$state" != Z ]; then echo "the minifier outlived the run"; fail=1; fi
[ -z "$(ls -A "$world/tmp")" ] || { echo "left in the temporary folder:"; ls -lA "$world/tmp"; fail=1; }
[ "$(cat "$out")" = old ] || { echo "a destination changed"; fail=1; }
[ $fail -eq 0 ] || cat "$world/out"
exit $fail
