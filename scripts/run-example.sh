#!/usr/bin/env bash
# Installs what building and running the simulator needs, builds the program alone and runs it in a
# fresh working folder holding the shipped marking.xml and an empty folder Log for -l; the folder is
# kept, with the run's results.log, and named at the end.
#   scripts/run-example.sh              a transient simulation of the model, with its estimates
#   scripts/run-example.sh ARGS...      the simulator with these arguments instead
# Exits with the simulator's status.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/step.sh"

build_program() {
  cmake -S "$root" -B "$root/build" && cmake --build "$root/build" -j "$(nproc)" --target vudi
}

step "installing packages" "$root/scripts/install-deps.sh" run
step "building" build_program

folder=$(mktemp -d "${TMPDIR:-/tmp}/vudi-run.XXXXXX")
cp "$root/marking.xml" "$folder/"
# The default log folder of -l, which the program does not make itself.
mkdir "$folder/Log"
cd "$folder"
[ $# -gt 0 ] || set -- -T --mstart 0 --mstop 200 --nofsampling 11
echo "running"
status=0
"$root/build/src/vudi" "$@" || status=$?
echo "working folder: $folder"
exit $status
