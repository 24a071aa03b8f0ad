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
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
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
