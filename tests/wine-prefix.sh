#!/usr/bin/env bash
# Starts or stops the private Wine prefix of a test run (WINEPREFIX is set by
# the caller). The server is started persistent, with its standard streams
# on /dev/null, so that no test's output pipe is held open by it; `stop`
# ends it and every process of the prefix.
set -euo pipefail
: "${WINEPREFIX:?}"
wineserver=${WINESERVER:-/usr/lib/wine/wineserver}
case "${1:-}" in
  start)
    mkdir -p "$WINEPREFIX"
    "$wineserver" -k >/dev/null 2>&1 || true
    "$wineserver" -p </dev/null >/dev/null 2>&1
    # Wine's services inherit the standard error of the process that starts
    # them first and keep it for good: start them here, on /dev/null, before
    # any test process whose output pipe they would otherwise hold open.
    if [ -f "$WINEPREFIX/system.reg" ]; then
      "$WINELOADER" wineboot </dev/null >/dev/null 2>&1
    else
      "$WINELOADER" wineboot --init </dev/null >/dev/null 2>&1
    fi
    ;;
  stop)
    "$wineserver" -k >/dev/null 2>&1 || true
    ;;
  *)
    echo "usage: $0 start|stop" >&2
    exit 2
    ;;
esac
