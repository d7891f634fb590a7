#!/usr/bin/env bash
# Speed of the program itself, from an existing build (default build/):
#   - events per second of the model in profiling mode (5 000 000 firings, process wall time);
#   - wall time of the README's transient run (0 to 200 s, 11 sampling points);
#   - transient replications per second of that run, from the build's model benchmark.
#   scripts/bench-program.sh [build folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
bin=$build/src/vudi
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
# The benchmark runs that transient run in one process, without the program's start-up.
if [ -x "$build/bench/ModelRate" ]; then
  "$build/bench/ModelRate" --benchmark_filter=TransientReplications 2>/dev/null |
    sed -n 's#.*replications/s=\([^ /]*\)/s.*#transient replications: \1 per second#p'
else
  echo "transient replications: no bench/ModelRate in $build (Google Benchmark missing?)"
fi
echo "cores: $(nproc)"
