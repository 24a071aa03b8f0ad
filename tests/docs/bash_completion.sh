#!/usr/bin/env bash
# Walks every command that the bash completion offers, as bash drives it,
# and checks that the CLI knows each one.
set -euo pipefail
script=$1 cli=$2
# shellcheck source-path=SCRIPTDIR source=bash_offered.bash
source "$(dirname "$0")/bash_offered.bash" "$script"

failed=0

# Every command the completion offers must exist: with some number of
# arguments the CLI must take it for a command it knows, not answer
# "Unknown ..." or "Use `...`". The arguments are all `on`, which also
# suits `meetings labels <id> on|off`. Run in folders of its own, without
# the app.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -m 700 "$scratch/run"
# File arguments offer the files here: none.
mkdir "$scratch/empty"
cd "$scratch/empty"
# A sanitized build's reports go where the test run collects them.
sanitizers=()
for name in ASAN_OPTIONS UBSAN_OPTIONS; do
  if [ -n "${!name:-}" ]; then sanitizers+=("$name=${!name}"); fi
done
known() {
  local extra=() error
  for _ in 0 1 2 3; do
    error=$(env -i HOME="$scratch" XDG_RUNTIME_DIR="$scratch/run" XDG_DATA_HOME="$scratch/data" \
      XDG_CONFIG_HOME="$scratch/config" CODEX_HOME="$scratch/codex" LOCALAPPDATA="$scratch/local" \
      APPDATA="$scratch/roaming" USERPROFILE="$scratch" USERNAME=vellumo-docs-test PATH="$scratch/bin" \
      "${sanitizers[@]}" "$cli" --no-launch "$@" "${extra[@]}" 2>&1 >/dev/null </dev/null) || true
    [[ $error =~ ^error:\ (Unknown|Use\ \`) ]] || return 0
    extra+=(on)
  done
  return 1
}
queue=("")
commands=0
while [ ${#queue[@]} -gt 0 ]; do
  path=${queue[0]}
  queue=("${queue[@]:1}")
  words=$(offered "vellumo-cli ${path:+$path }")
  # Arguments that repeat (`meetings join <id> <id> ...`) end somewhere.
  if [ -z "$words" ] || [ "$(wc -w <<<"$path")" -ge 5 ]; then
    commands=$((commands + 1))
    # shellcheck disable=SC2086
    known $path || { echo "the completion offers '$path', which the CLI does not know" >&2; failed=1; }
    continue
  fi
  for word in $words; do
    queue+=("${path:+$path }$word")
  done
done
[ "$commands" -gt 40 ] || { echo "the completion offers only $commands commands" >&2; failed=1; }
exit "$failed"
