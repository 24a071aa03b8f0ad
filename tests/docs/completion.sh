#!/usr/bin/env bash
# Completes each line of a table in a real shell and compares the words
# offered with the table's:
#
#   completion.sh bash|zsh|fish SCRIPT TABLE
#
# bash runs the function that the script registers, as bash does on Tab;
# zsh loads the script as compinit does and is typed at through a pseudo
# terminal (zsh_complete.zsh); fish loads it from its completion path.
set -euo pipefail
export LC_ALL=C
shell=$1 script=$(realpath "$2") table=$(realpath "$3")
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/work" "$scratch/home" "$scratch/functions"
touch "$scratch/work/call.wav" "$scratch/work/notes.md"
cd "$scratch/work"
export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/home/config XDG_DATA_HOME=$scratch/home/data

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
  *)
    echo "usage: completion.sh bash|zsh|fish SCRIPT TABLE" >&2
    exit 2
    ;;
esac

failed=0 rows=0
while IFS='|' read -r line expected; do
  [[ -z $line || $line == '#'* ]] && continue
  rows=$((rows + 1))
  got=$(offered "$line" | sed '/^$/d' | sort -u | paste -sd ' ' -) || got="(failed: $?)"
  if [ "$got" != "$expected" ]; then
    echo "$shell, completing '$line': expected '$expected', got '$got'" >&2
    failed=1
  fi
done <"$table"
[ "$rows" -gt 0 ] || { echo "$table has no lines" >&2; exit 1; }
# fish shows what each command word does.
if [ "$shell" = fish ]; then
  for line in "vellumo-cli " "vellumo-cli meetings " "vellumo-cli meetings record "; do
    bare=$(described "$line" | grep -v $'\t.' || true)
    [ -z "$bare" ] || { echo "fish, completing '$line': no description for: $bare" >&2; failed=1; }
  done
fi
exit "$failed"
