#!/usr/bin/env bash
# Sets up the machine, builds the project and runs every test.
#   scripts/run-tests.sh            normal build in build/
#   scripts/run-tests.sh --sanitize AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/step.sh

build=build
flags=()
if [ "${1:-}" = "--sanitize" ]; then
  build=build-asan
  flags+=(-DVUDI_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DVUDI_BENCHMARKS=OFF)
fi

build_all() {
  cmake -S . -B "$build" "${flags[@]}" && cmake --build "$build" -j "$(nproc)"
}

step "installing packages" scripts/install-deps.sh test
step "building" build_all

# The token-database tests reach a private server that lives only as long as this run.
db_env=$(scripts/test-db.sh start)
eval "$db_env"
trap 'scripts/test-db.sh stop "$VUDI_TEST_DB_DIR"' EXIT
trap 'exit 130' INT TERM
echo "running"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
