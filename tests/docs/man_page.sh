#!/usr/bin/env bash
# The manual page against the program: an entry with a description for
# every command line of `vellumo-cli help`, an ENVIRONMENT entry for every
# variable the sources read, the sources' date; and groff and mandoc find
# nothing to warn about (groff exits 0 even when it warns).
#
#   man_page.sh PAGE CLI SOURCE_FOLDER SOURCE_DATE_EPOCH
set -euo pipefail
export LC_ALL=C
page=$1 cli=$2 sources=$3 epoch=$4
failed=0
fail() {
  echo "$page: $*" >&2
  failed=1
}

# The lines of section $1 (between `.SH $1` and the next `.SH`), escapes
# read back: \- is -, \: (a break point) nothing.
section() {
  awk -v name="$1" '/^\.SH / { inside = ($0 == ".SH " name) || ($0 == ".SH \"" name "\""); next }
    inside' "$page" | sed -e 's/\\-/-/g' -e 's/\\://g'
}

# Each command line of the help: "  meetings show <id>   Full record as JSON"
# has its command part as the tag (`.B ...`) of an entry, and text under it.
commands=$(section COMMANDS)
help=$("$cli" help)
count=0
while IFS= read -r syntax; do
  count=$((count + 1))
  text=$(grep -Fx -A1 ".B $syntax" <<<"$commands" | sed -n 2p || true)
  if [ -z "$text" ] || [[ $text == .* ]]; then
    fail "COMMANDS has no described entry for \`$syntax'"
  fi
done < <(sed -n 's/^  \([a-z][^ ].*\)$/\1/p' <<<"$help" | sed 's/  .*//')
[ "$count" -gt 30 ] || fail "found only $count commands in the help"

# Every variable the CLI's sources read by name (the stand-in app's own are
# not the CLI's).
environment=$(section ENVIRONMENT)
variables=$(grep -rhoE '(get_env|getenv)\("[A-Za-z_][A-Za-z0-9_]*"\)' "$sources" --include='*.cpp' \
  --exclude-dir=standin_app | sed -E 's/.*\("(.*)"\)/\1/' | sort -u)
[ -n "$variables" ] || fail "found no variables read in $sources"
for name in $variables; do
  grep -qx "\.B $name" <<<"$environment" || fail "ENVIRONMENT has no entry for $name"
done

for name in NAME SYNOPSIS DESCRIPTION "GLOBAL OPTIONS" "EXIT STATUS" FILES EXAMPLES "SEE ALSO"; do
  [ -n "$(section "$name")" ] || fail "the section $name is missing or empty"
done
if sed -e '/^\.\\"/d' -e 's/\\-/-/g' "$page" | grep README | grep -vq '/usr/share/doc/vellumo-cli/README'; then
  fail "refers to a README that the package does not ship"
fi

date=$(date -u -d "@$epoch" +%F)
head -5 "$page" | grep -q "^\.TH VELLUMO\\\\-CLI 1 $date " || fail "its date is not $date"

warnings=$(groff -man -ww -z "$page" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "groff warns: $warnings"
warnings=$(mandoc -T lint "$page" 2>&1) || true
[ -z "$warnings" ] || fail "mandoc warns: $warnings"
exit "$failed"
