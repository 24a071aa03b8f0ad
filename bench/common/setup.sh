# Shared by the benchmark scripts: builds the CLI (Release, statically
# linked, no tests) in build/bench and installs the tools the comparisons
# need. Sourced with the repository as the current folder.
set -euo pipefail
top=$PWD
out=$top/build/bench
scripts/install-deps
missing=()
for tool in hyperfine jq time; do
  dpkg-query -W -f='${Status}' "$tool" 2>/dev/null | grep -q 'install ok installed' || missing+=("$tool")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELLUMO_TESTS=OFF >/dev/null
cmake --build "$out" --target vellumo-cli >/dev/null
cli=$out/src/vellumo-cli
cc=${CC:-cc}

# hyperfine's median of command number $2 (0-based) in the JSON file $1:
# on a shared machine, a few runs slowed by other work move the mean, not
# the median.
median() { jq ".results[$2].median" "$1"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
