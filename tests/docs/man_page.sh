#!/usr/bin/env bash
# The built manual page is what the program's texts make now, and groff
# reads it without a warning (groff exits 0 even when it warns).
set -euo pipefail
generator=$1 page=$2
if ! "$generator" man | cmp -s - "$page"; then
  echo "$page is stale: it differs from what the program's texts make now" >&2
  exit 1
fi
warnings=$(groff -man -ww -z "$page" 2>&1 >/dev/null)
if [ -n "$warnings" ]; then
  echo "groff warns about $page:" >&2
  echo "$warnings" >&2
  exit 1
fi
