#!/bin/sh
# Ctrl-C under Wine. Wine turns a SIGINT sent to a Windows program into the
# console's Ctrl-C event, the one console control event it can deliver: it
# has no console to close and no session to end, and without a console a
# program under it cannot raise the events itself. A Veltrano run whose
# stand-in minifier hangs must then exit with 130, stop the minifier,
# remove its temporary folder and leave the destinations as they were.
# Usage: interrupted_under_wine.sh WINE BIN_DIR
set -eu
wine=$1 bin=$2
world=$(mktemp -d "${TMPDIR:-/tmp}/brelix-wine-XXXXXX")
name=$(basename "$world")
# Nothing started here outlives the script: its processes name the world.
trap 'for pid in $(pgrep -f "$name" || true); do kill -9 "$pid" 2>/dev/null || true; done; rm -rf "$world"' EXIT
mkdir "$world/bin" "$world/tmp"
cp "$bin/fake_uglifyjs.exe" "$world/bin/uglifyjs.exe"
"$wine" "$bin/make_sample_project.exe" "$world/sample" >/dev/null 2>&1
echo old >"$world/sample/veltrano/system-boot.js"
# Wine sets TMP and TEMP from its registry; cmd hands brelix these instead.
BRELIX_FAKE_UGLIFYJS=slow:600000 VTPATH="$world/sample/veltrano" WINEPATH="$world/bin" \
  "$wine" cmd /c "set TMP=$world/tmp&& set TEMP=$world/tmp&& $bin/brelix.exe -v" >"$world/out" 2>&1 &
runner=$! minifier='' tries=0
while [ -z "$minifier" ] && [ $((tries += 1)) -lt 600 ]; do
  sleep 0.1
  minifier=$(pgrep -f "^uglifyjs .*$name" | head -n 1 || true)
done
brelix=$(pgrep -f "^[^ ]*brelix.exe -v" | while read -r pid; do
  tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -q "^VTPATH=$world/" && echo "$pid"; done | head -n 1)
[ -n "$minifier" ] && [ -n "$brelix" ] || { echo "the run never reached the minifier"; cat "$world/out"; exit 1; }
kill -INT "$brelix"
status=0
wait "$runner" || status=$?
sleep 1
# A zombie (where init does not reap) is as gone as a process can be.
state=$(sed 's/.*) \(.\).*/\1/' "/proc/$minifier/stat" 2>/dev/null || echo Z)
fail=0
[ "$status" -eq 130 ] || { echo "exit status $status, not 130"; fail=1; }
[ "$state" = Z ] || { echo "the minifier outlived the run"; fail=1; }
[ -z "$(ls -A "$world/tmp")" ] || { echo "left behind:"; ls -lA "$world/tmp"; fail=1; }
[ "$(cat "$world/sample/veltrano/system-boot.js")" = old ] || { echo "a destination changed"; fail=1; }
[ $fail -eq 0 ] || cat "$world/out"
exit $fail
