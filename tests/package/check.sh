#!/usr/bin/env bash
# Checks the packages that scripts/package made in the folder given: unpacks
# both Debian packages into a scratch root (dpkg -x), looks for every file
# they must hold, runs `vellumo-cli version` and a round trip through the
# stand-in app that the installed CLI launches from its own folder; and
# lists the Windows .zip, which must hold both executables and the
# PowerShell completion in one folder. Everything runs in folders of its
# own; no process is left behind.
set -euo pipefail
packages=${1:?usage: check.sh <folder of packages>}
failed=0
fail() { echo "package check: $*" >&2; failed=1; }
one() { # the one file that matches the pattern
  local matches=("$packages"/$1)
  [ ${#matches[@]} -eq 1 ] && [ -f "${matches[0]}" ] || { echo "no single $1 in $packages" >&2; exit 1; }
  echo "${matches[0]}"
}
cli_deb=$(one 'vellumo-cli_*.deb')
standin_deb=$(one 'vellumo-standin_*.deb')
zip=$(one 'vellumo-cli-*-windows-x86_64.zip')

scratch=$(mktemp -d)
root=$scratch/root
dpkg -x "$cli_deb" "$root"
dpkg -x "$standin_deb" "$root"
for file in usr/bin/vellumo-cli usr/lib/vellumo-cli/vellumo-cli usr/lib/vellumo-cli/Vellumo \
    usr/share/man/man1/vellumo-cli.1 usr/share/bash-completion/completions/vellumo-cli \
    usr/share/zsh/site-functions/_vellumo-cli usr/share/zsh/vendor-completions/_vellumo-cli \
    usr/share/fish/vendor_completions.d/vellumo-cli.fish; do
  [ -f "$root/$file" ] || fail "$file is missing"
done
[ -L "$root/usr/bin/vellumo-cli" ] || fail "usr/bin/vellumo-cli is no link"
dpkg-deb -f "$standin_deb" Depends | grep -q '^vellumo-cli (= ' ||
  fail "the stand-in package does not depend on the CLI's"

# The installed CLI, run through its link in bin, with its own app link and
# folders.
mkdir -m 700 "$scratch/run"
mkdir -p "$scratch/home" "$scratch/data"
run_cli() {
  env -i PATH=/usr/bin:/bin HOME="$scratch/home" XDG_RUNTIME_DIR="$scratch/run" \
    LOCALAPPDATA="$scratch/data" USERNAME=vellumo-package-test \
    VELLUMO_STANDIN_STOP_FILE="$scratch/stop" VELLUMO_STANDIN_MAX_LIFETIME_S=120 \
    "$root/usr/bin/vellumo-cli" "$@"
}
lock=$scratch/data/Vellumo/standin/app.lock
cleanup() {
  touch "$scratch/stop"
  for _ in $(seq 50); do
    [ -e "$lock" ] || break
    sleep 0.1
  done
  if [ -e "$lock" ]; then
    pid=$(cat "$lock" 2>/dev/null || true)
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT

version=$(run_cli version) || fail "vellumo-cli version failed"
[[ $version == "vellumo-cli "*" (protocol "*")" ]] || fail "vellumo-cli version printed '$version'"
status=$(run_cli status) || fail "vellumo-cli status did not reach the stand-in app"
grep -q "\"cli\": \"$root/usr/lib/vellumo-cli/vellumo-cli\"" <<<"$status" ||
  fail "the CLI did not find itself in its install folder: $status"
meetings=$(run_cli meetings list) || fail "vellumo-cli meetings list failed"
[ "$meetings" = "[]" ] || fail "a fresh stand-in app listed meetings: $meetings"
run_cli quit >/dev/null || fail "vellumo-cli quit failed"

# The .zip: one folder with both executables and the completion script.
listing=$(cmake -E tar tf "$zip")
echo "$listing"
folder=${listing%%/*}
for file in vellumo-cli.exe Vellumo.exe vellumo-cli-completion.ps1; do
  grep -qx "$folder/$file" <<<"$listing" || fail "$file is not in $folder/ of $zip"
done
exit "$failed"
