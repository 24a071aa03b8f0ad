#!/usr/bin/env bash
# Wine sets USERNAME, USERPROFILE, APPDATA and LOCALAPPDATA of every process
# started from Linux from the prefix's HKCU "Volatile Environment" key,
# whatever the Linux environment says, and recreates the key each time the
# prefix's server starts. Without them there, each test's own values reach
# the Windows programs, and with them the test's private app link and
# folders. Run after the prefix has started (WINEPREFIX and WINELOADER are
# set by the caller).
set -euo pipefail
: "${WINEPREFIX:?}" "${WINELOADER:?}"
for name in USERNAME USERPROFILE APPDATA LOCALAPPDATA; do
  "$WINELOADER" reg delete 'HKCU\Volatile Environment' /v "$name" /f </dev/null >/dev/null 2>&1 || true
done
# Check that it took: a Windows process must see the Linux value.
seen=$(USERNAME=vellumo-e2e-probe "$WINELOADER" cmd /c 'echo %USERNAME%' </dev/null 2>/dev/null | tr -d '\r')
if [ "$seen" != "vellumo-e2e-probe" ]; then
  echo "Wine does not pass USERNAME through (saw '$seen')" >&2
  exit 1
fi
