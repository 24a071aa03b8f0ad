#!/usr/bin/env bash
# Many `agents install` and `agents remove` runs at once on one home: each
# must end well, and afterwards every file must still parse and hold all of
# the user's own settings. Usage: agents_race.sh CLI WORK_FOLDER
set -euo pipefail
cli=$1
work=$2
rm -rf "$work"
mkdir -p "$work/home/.gemini" "$work/home/.cursor" "$work/home/.codex" "$work/data" "$work/runtime"
chmod 700 "$work/runtime"
export HOME=$work/home XDG_DATA_HOME=$work/data XDG_RUNTIME_DIR=$work/runtime PATH=/usr/bin:/bin
unset LOCALAPPDATA APPDATA CODEX_HOME USERPROFILE

printf '{\n  "apiKey": "secret",\n  "mcpServers": {\n    "other": {"command": "x"}\n  }\n}\n' \
  >"$HOME/.gemini/settings.json"
# Cursor's file lives in a dotfiles folder, behind a chain of two links.
mkdir -p "$work/dotfiles"
printf '{"theme": "dark"}\n' >"$work/dotfiles/cursor.json"
ln -s cursor.json "$work/dotfiles/cursor-link"
ln -s "$work/dotfiles/cursor-link" "$HOME/.cursor/mcp.json"
printf 'model = "o3"\n\n[mcp_servers.other]\ncommand = "x"\n' >"$HOME/.codex/config.toml"
chmod 600 "$HOME/.gemini/settings.json" "$HOME/.codex/config.toml"

# Waits for the runs of round $1 (pids in $pids); each must end well.
finish_round() {
  for pid in "${pids[@]}"; do
    if ! wait "$pid"; then
      echo "a run failed in round $1:" >&2
      grep -l . "$work"/out-"$1"-* | xargs tail -n +1 >&2
      exit 1
    fi
  done
}

for round in 1 2 3; do
  pids=()
  for i in $(seq 10); do
    "$cli" agents install >"$work/out-$round-install-$i" 2>&1 & pids+=($!)
    "$cli" agents remove >"$work/out-$round-remove-$i" 2>&1 & pids+=($!)
  done
  finish_round "$round"
done

# ensure, which reads the marker under the lock, and status, which only
# looks while the others write.
pids=()
for i in $(seq 5); do
  for word in install remove ensure status; do
    "$cli" agents "$word" >"$work/out-4-$word-$i" 2>&1 & pids+=($!)
  done
done
finish_round 4

# A run that changes anything waits while another holds the lock; status
# only looks, and does not wait.
lock=$XDG_DATA_HOME/Vellumo/agents.lock
flock "$lock" sleep 2 &
holder=$!
sleep 0.5
took() { local start=$(date +%s%N); "$@" >/dev/null; echo $(( ($(date +%s%N) - start) / 1000000 )); }
status_ms=$(took "$cli" agents status)
install_ms=$(took "$cli" agents install)
wait "$holder"
if [ "$status_ms" -ge 1000 ] || [ "$install_ms" -lt 1000 ]; then
  echo "status took $status_ms ms and install $install_ms ms beside a held lock" >&2
  exit 1
fi

python3 - "$HOME" "$XDG_DATA_HOME/Vellumo/agent-integration.json" <<'EOF'
import json, os, stat, sys, tomllib
home, marker = sys.argv[1], sys.argv[2]
gemini = json.load(open(f"{home}/.gemini/settings.json"))
assert gemini["apiKey"] == "secret" and gemini["mcpServers"]["other"] == {"command": "x"}, gemini
assert os.readlink(f"{home}/.cursor/mcp.json").endswith("/dotfiles/cursor-link")
assert os.readlink(f"{home}/../dotfiles/cursor-link") == "cursor.json"
cursor = json.load(open(f"{home}/.cursor/mcp.json"))
# The last run was an install: its entries are there, the link kept.
assert cursor["theme"] == "dark" and "vellumo" in cursor["mcpServers"], cursor
assert "vellumo" in gemini["mcpServers"], gemini
codex = tomllib.load(open(f"{home}/.codex/config.toml", "rb"))
assert codex["model"] == "o3" and codex["mcp_servers"]["other"]["command"] == "x", codex
for name in (".gemini/settings.json", ".codex/config.toml"):
    mode = stat.S_IMODE(os.stat(f"{home}/{name}").st_mode)
    assert mode == 0o600, f"{name} has mode {mode:o}"
m = json.load(open(marker))
assert set(m) == {"cli", "removed"}, m
left = [f for d, _, fs in os.walk(home) for f in fs if f.endswith(".vellumo-tmp")]
assert not left, left
EOF
