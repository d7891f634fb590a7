#!/usr/bin/env bash
# Installs the Debian packages of one use of the project. Idempotent; must run as root
# (or through sudo).
#   scripts/install-deps.sh run    what building and running the simulator needs
#   scripts/install-deps.sh test   that and what the tests and benchmarks need (GoogleTest, Google
#                                  Benchmark, and the MariaDB server and client of the private
#                                  test database); the default
set -euo pipefail

packages=(
  g++ cmake make pkg-config
  libxerces-c-dev libtclap-dev
  unixodbc unixodbc-dev odbc-mariadb
)
case "${1:-test}" in
  run) ;;
  # A MariaDB server package starts the system's database service where the host runs one; only
  # the tests need the server, and they start a private one of their own.
  test) packages+=(libgtest-dev libgmock-dev libbenchmark-dev mariadb-server mariadb-client) ;;
  *) echo "usage: $0 [run | test]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
