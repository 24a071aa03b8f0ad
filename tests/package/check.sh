#!/usr/bin/env bash
# Checks the packages that scripts/package made in the folder given: runs
# lintian on both Debian packages (no error, no warning), checks their
# control fields and that every date in the packages is the source date;
# unpacks both into a scratch root (dpkg -x), looks for every file they
# must hold, runs `vellumo-cli version` and a round trip through the
# stand-in app that the installed CLI launches from its own folder; and
# lists the Windows .zip, which must hold both executables, the PowerShell
# completion and the licence notices in one folder. Everything runs in
# folders of its own; no process is left behind.
set -euo pipefail
packages=$(cd "${1:?usage: check.sh <folder of packages>}" && pwd)
source_date=$(cmake -P "$(dirname "$0")/../../cmake/source_date.cmake")
export TZ=UTC
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

for deb in "$cli_deb" "$standin_deb"; do
  name=$(basename "$deb")
  lintian --fail-on error,warning "$deb" >&2 2> >(grep -v 'root privileges' >&2) ||
    fail "lintian finds errors or warnings in $name (above)"
  # Installed-Size as dpkg-gencontrol sums it: each file in whole KiB, any
  # other entry 1 KiB.
  size=$(dpkg-deb -c "$deb" | awk '{ t += ($1 ~ /^-/) ? int(($3 + 1023) / 1024) : 1 } END { print t }')
  [ "$(dpkg-deb -f "$deb" Installed-Size)" = "$size" ] ||
    fail "$name says Installed-Size $(dpkg-deb -f "$deb" Installed-Size), its files take $size KiB"
  # The extended description is indented once: paragraph lines, or " .".
  dpkg-deb -f "$deb" Description | sed 1d | grep -vE '^ ([^ ]|\.$)' &&
    fail "$name has extended description lines indented more than once"
  # Every archive entry is dated with the source date, the ar members'
  # dates (at byte 16 of each 60-byte header) included.
  dates=$( (dpkg-deb --ctrl-tarfile "$deb"; dpkg-deb --fsys-tarfile "$deb") |
    tar --full-time -itvf - | awk '{ print $4 " " $5 }' | sort -u)
  [ "$dates" = "$(date -d "@$source_date" '+%F %T')" ] || fail "$name holds entries dated $dates"
  offset=8
  while [ "$offset" -lt "$(stat -c %s "$deb")" ]; do
    mtime=$(dd if="$deb" bs=1 skip=$((offset + 16)) count=12 status=none | tr -d ' ')
    [ "$mtime" = "$source_date" ] || fail "a member of $name is dated $mtime"
    member_size=$(dd if="$deb" bs=1 skip=$((offset + 48)) count=10 status=none | tr -d ' ')
    offset=$((offset + 60 + member_size + member_size % 2))
  done
done
[ "$(dpkg-deb -f "$cli_deb" Description | sed -n 1p)" != "$(dpkg-deb -f "$standin_deb" Description | sed -n 1p)" ] ||
  fail "both packages have the same summary"

scratch=$(mktemp -d)
root=$scratch/root
dpkg -x "$cli_deb" "$root"
dpkg -x "$standin_deb" "$root"
for file in usr/bin/vellumo-cli usr/lib/vellumo-cli/vellumo-cli usr/lib/vellumo-cli/Vellumo \
    usr/share/man/man1/vellumo-cli.1.gz usr/share/bash-completion/completions/vellumo-cli \
    usr/share/zsh/site-functions/_vellumo-cli usr/share/zsh/vendor-completions/_vellumo-cli \
    usr/share/fish/vendor_completions.d/vellumo-cli.fish usr/share/doc/vellumo-cli/README.md \
    usr/share/doc/vellumo-{cli,standin}/{copyright,changelog.gz} \
    usr/share/lintian/overrides/vellumo-{cli,standin}; do
  [ -f "$root/$file" ] || fail "$file is missing"
done
[ -L "$root/usr/bin/vellumo-cli" ] || fail "usr/bin/vellumo-cli is no link"
dpkg-deb -f "$standin_deb" Depends | grep -q '^vellumo-cli (= ' ||
  fail "the stand-in package does not depend on the CLI's"
# The licence notices name the parts that each package's executable links.
names() { # file, then the Files patterns it must name
  local file=$1 pattern
  shift
  for pattern in "$@"; do
    grep -q "^Files: $pattern" "$file" || fail "$(basename "$(dirname "$file")")/$(basename "$file") does not name $pattern"
  done
}
names "$root/usr/share/doc/vellumo-cli/copyright" '\*' 'nlohmann-json/\*' 'tomlplusplus/\*' \
  'gcc/libstdc++-v3/\*' 'glibc/\*'
names "$root/usr/share/doc/vellumo-standin/copyright" '\*' 'nlohmann-json/\*' 'gcc/libstdc++-v3/\*' 'glibc/\*'

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

# The .zip: one folder with both executables, the completion script and
# the licence notices; its entries are dated with the source date (zip
# dates count in steps of two seconds), and so are the executables' PE
# headers.
listing=$(cmake -E tar tf "$zip")
echo "$listing"
folder=${listing%%/*}
for file in vellumo-cli.exe Vellumo.exe vellumo-cli-completion.ps1 copyright.txt; do
  grep -qx "$folder/$file" <<<"$listing" || fail "$file is not in $folder/ of $zip"
done
while read -r stamp; do
  date=$(date -d "${stamp:0:8} ${stamp:9:2}:${stamp:11:2}:${stamp:13:2}" +%s)
  ((date - source_date < 2 && source_date - date < 2)) || fail "$zip holds an entry dated $stamp"
done < <(zipinfo -T -s "$zip" | awk '$1 ~ /^[-dl][-r][-w]/ { print $7 }')
mkdir "$scratch/zip"
(cd "$scratch/zip" && cmake -E tar xf "$zip")
names "$scratch/zip/$folder/copyright.txt" '\*' 'nlohmann-json/\*' 'tomlplusplus/\*' \
  'gcc/libstdc++-v3/\*' 'mingw-w64/mingw-w64-crt/\*' 'mingw-w64/mingw-w64-libraries/winpthreads/\*'
for exe in vellumo-cli.exe Vellumo.exe; do
  pe=$(od -An -tu4 -j60 -N4 "$scratch/zip/$folder/$exe" | tr -d ' ')
  stamp=$(od -An -tu4 -j$((pe + 8)) -N4 "$scratch/zip/$folder/$exe" | tr -d ' ')
  [ "$stamp" = "$source_date" ] || fail "the PE header of $exe says it was made at $stamp"
done
exit "$failed"
