#!/usr/bin/env bash
# Runs "$@" on the X server of $DISPLAY under the openbox window manager, started first and
# stopped afterwards. Exits 77 (ctest: skipped) only when openbox can't start; otherwise with the
# command's status.
set -u

skip() {
  echo "Skipped, no pass under a window manager: $1" >&2
  exit 77
}

command -v openbox >/dev/null || skip "openbox is not installed (./setup.sh installs it)"
state=$(mktemp -d)
trap 'rm -rf "$state"' EXIT

managing() { obxprop --root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q WINDOW; }

XDG_CONFIG_HOME=$state XDG_CACHE_HOME=$state openbox --sm-disable >"$state/openbox.log" 2>&1 &
wm=$!
for _ in $(seq 100); do
  managing && break
  kill -0 "$wm" 2>/dev/null || break
  sleep 0.1
done
if ! managing; then
  kill "$wm" 2>/dev/null
  skip "openbox did not take the screen: $(tail -n 3 "$state/openbox.log")"
fi

"$@"
status=$?
kill "$wm" 2>/dev/null
wait "$wm" 2>/dev/null
exit "$status"
