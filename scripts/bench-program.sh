#!/usr/bin/env bash
# Speed of the program itself, from an existing build (default build/):
#   - events per second of the model in profiling mode (5 000 000 firings, process wall time);
#   - wall time of the README's transient run (0 to 200 s, 11 sampling points).
#   scripts/bench-program.sh [build folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$root/build}" && pwd)/src/vudi
[ -x "$bin" ] || { echo "no program at $bin: build it first" >&2; exit 1; }

folder=$(mktemp -d "${TMPDIR:-/tmp}/vudi-bench.XXXXXX")
trap 'rm -rf "$folder"' EXIT
cp "$root/marking.xml" "$folder/"
cd "$folder"

# Seconds of wall time the program takes with the given arguments.
timed() {
  local begin end
  begin=$(date +%s.%N)
  "$bin" "$@" >/dev/null
  end=$(date +%s.%N)
  awk -v b="$begin" -v e="$end" 'BEGIN { printf "%.3f", e - b }'
}

firings=5000000
seconds=$(timed -p --fcount $firings --lcount 1 --seed 1)
awk -v n=$firings -v s="$seconds" \
  'BEGIN { printf "profiling: %d firings in %.2f s, %.0f events/s\n", n, s, n / s }'
printf 'transient run of the README: %.2f s\n' \
  "$(timed -T --mstart 0 --mstop 200 --nofsampling 11 --seed 1)"
echo "cores: $(nproc)"
