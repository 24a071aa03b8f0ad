#!/usr/bin/env bash
# Completes each line of a table in a real shell and compares the words
# offered with the table's:
#
#   completion.sh bash|zsh|fish|powershell SCRIPT TABLE
#
# bash runs the function that the script registers, as bash does on Tab;
# zsh loads the script as compinit does and is typed at through a pseudo
# terminal (zsh_complete.zsh); fish loads it from its completion path;
# PowerShell (pwsh, on the search path or where `dotnet tool install`
# puts it) dot-sources it and completes every line in one run
# (powershell_offered.ps1). Without pwsh the script exits with 77, which
# the test counts as skipped.
set -euo pipefail
export LC_ALL=C
shell=$1 script=$(realpath "$2") table=$(realpath "$3")
here=$(cd "$(dirname "$0")" && pwd)
if [ "$shell" = powershell ]; then
  # Looked up before HOME points at the scratch folder.
  pwsh=$(command -v pwsh || true)
  [ -n "$pwsh" ] || [ ! -x "${HOME:-}/.dotnet/tools/pwsh" ] || pwsh=$HOME/.dotnet/tools/pwsh
  [ -n "$pwsh" ] || { echo "skipped: no pwsh (PowerShell) on this machine"; exit 77; }
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/work" "$scratch/home" "$scratch/functions"
touch "$scratch/work/call.wav" "$scratch/work/notes.md"
cd "$scratch/work"
export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/home/config XDG_DATA_HOME=$scratch/home/data

# The table: lines as typed and the words expected, sorted and joined by
# spaces.
lines=() expected=()
while IFS='|' read -r line words; do
  [[ -z $line || $line == '#'* ]] && continue
  lines+=("$line") expected+=("$words")
done <"$table"
[ ${#lines[@]} -gt 0 ] || { echo "$table has no lines" >&2; exit 1; }

case $shell in
  bash)
    # shellcheck source-path=SCRIPTDIR source=bash_offered.bash
    source "$here/bash_offered.bash" "$script"
    ;;
  zsh)
    # compinit finds completions by their file name in fpath.
    cp "$script" "$scratch/functions/_vellumo-cli"
    offered() { timeout 20 zsh -f "$here/zsh_complete.zsh" "$scratch/functions" "$1"; }
    ;;
  fish)
    cp "$script" "$scratch/functions/vellumo-cli.fish"
    # fish loads the completions of commands that exist.
    mkdir "$scratch/bin"
    printf '#!/bin/sh\n' >"$scratch/bin/vellumo-cli"
    chmod +x "$scratch/bin/vellumo-cli"
    export PATH=$scratch/bin:$PATH
    described() {
      # shellcheck disable=SC2016 # fish expands $argv
      timeout 20 fish --no-config -c \
        'set -p fish_complete_path $argv[1]; complete -C $argv[2]' "$scratch/functions" "$1"
    }
    offered() { described "$1" | cut -f1; }
    ;;
  powershell)
    # One start of pwsh for the whole table: each line's words end with an
    # empty line.
    printf '%s\n' "${lines[@]}" >"$scratch/lines"
    export POWERSHELL_TELEMETRY_OPTOUT=1 POWERSHELL_UPDATECHECK=Off
    timeout 120 "$pwsh" -NoProfile -NonInteractive -File "$here/powershell_offered.ps1" \
      "$script" "$scratch/lines" >"$scratch/offered"
    declare -A words_of
    row=0
    while IFS= read -r word; do
      if [ -z "$word" ]; then
        row=$((row + 1))
      else
        words_of[${lines[row]}]+=$word$'\n'
      fi
    done <"$scratch/offered"
    [ "$row" -eq ${#lines[@]} ] || { echo "pwsh completed $row of ${#lines[@]} lines" >&2; exit 1; }
    offered() { printf '%s' "${words_of[$1]:-}"; }
    ;;
  *)
    echo "usage: completion.sh bash|zsh|fish|powershell SCRIPT TABLE" >&2
    exit 2
    ;;
esac

failed=0
for i in "${!lines[@]}"; do
  line=${lines[i]}
  got=$(offered "$line" | sed '/^$/d' | sort -u | paste -sd ' ' -) || got="(failed: $?)"
  if [ "$got" != "${expected[i]}" ]; then
    echo "$shell, completing '$line': expected '${expected[i]}', got '$got'" >&2
    failed=1
  fi
done
# fish shows what each command word does.
if [ "$shell" = fish ]; then
  for line in "vellumo-cli " "vellumo-cli meetings " "vellumo-cli meetings record "; do
    bare=$(described "$line" | grep -v $'\t.' || true)
    [ -z "$bare" ] || { echo "fish, completing '$line': no description for: $bare" >&2; failed=1; }
  done
fi
exit "$failed"
