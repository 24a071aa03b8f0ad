#!/usr/bin/env bash
# Installs the pinned MCP SDK (package.json and package-lock.json beside this
# script) into the folder given, with npm's cache inside that folder. Does
# nothing when the folder already holds an install from the same lock file.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dest=${1:?usage: install.sh <folder>}
stamp=$dest/node_modules/.installed-lock.json

if [ -f "$stamp" ] && cmp -s "$here/package-lock.json" "$stamp"; then
  exit 0
fi
mkdir -p "$dest"
cp "$here/package.json" "$here/package-lock.json" "$dest/"
cd "$dest"
npm_config_cache="$dest/.npm-cache" npm ci --no-audit --no-fund --loglevel=error
cp package-lock.json "$stamp"
