#!/usr/bin/env bash
# A private MariaDB server for the tests, reached through unixODBC as the data source "vudi"
# (user and password "raruzev"), beside the data source "vudi_down" whose server never runs. It
# lives in a temporary folder and never touches the system's own server or ODBC configuration.
#   eval "$(scripts/test-db.sh start)"   starts it and prints the environment the tests need
#   scripts/test-db.sh stop DIR           shuts it down and removes DIR (default $VUDI_TEST_DB_DIR)
set -euo pipefail

die() { echo "test-db: $*" >&2; exit 1; }

# Shows what the server said and fails; the ERR trap then removes the folder.
failed() {
  cat "$1"/*.log >&2 2>/dev/null || true
  return 1
}

stop() {
  local dir=$1 pid=
  [ -n "$dir" ] && [ -d "$dir" ] || return 0
  case "$(basename "$dir")" in vudi-testdb.*) ;; *) die "not a test database folder: $dir" ;; esac
  [ -f "$dir/mariadbd.pid" ] && pid=$(cat "$dir/mariadbd.pid")
  [ -S "$dir/mysql.sock" ] &&
    { mariadb-admin --no-defaults --socket="$dir/mysql.sock" -uroot shutdown >/dev/null 2>&1 || true; }
  if [ -n "$pid" ]; then
    # A clean shutdown ends by removing the pid file.
    for _ in $(seq 100); do
      [ -f "$dir/mariadbd.pid" ] && kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -rf "$dir"
}

start() {
  local driver dir sock pid
  driver=$(dpkg -L odbc-mariadb 2>/dev/null | grep '/libmaodbc\.so$' | head -n1) ||
    die "the MariaDB ODBC driver (package odbc-mariadb) is not installed"
  dir=$(mktemp -d "${TMPDIR:-/tmp}/vudi-testdb.XXXXXX")
  sock=$dir/mysql.sock
  # Whatever fails from here on takes the half-built instance with it.
  trap 'stop "$dir"' ERR

  # Its own temporary folder too: servers of parallel test runs must not meet in /tmp.
  mkdir "$dir/tmp"
  mariadb-install-db --no-defaults --datadir="$dir/data" --tmpdir="$dir/tmp" --user="$(id -un)" \
    --auth-root-authentication-method=normal --skip-test-db --skip-name-resolve \
    >"$dir/install.log" 2>&1 || failed "$dir"

  mariadbd --no-defaults --datadir="$dir/data" --tmpdir="$dir/tmp" --socket="$sock" --skip-networking \
    --pid-file="$dir/mariadbd.pid" --log-error="$dir/error.log" --user="$(id -un)" \
    --skip-name-resolve --innodb-buffer-pool-size=16M --innodb-log-file-size=8M \
    </dev/null >"$dir/mariadbd.log" 2>&1 &
  pid=$!
  echo "$pid" >"$dir/mariadbd.pid"
  for _ in $(seq 300); do
    mariadb-admin --no-defaults --socket="$sock" -uroot ping >/dev/null 2>&1 && break
    kill -0 "$pid" 2>/dev/null || failed "$dir"
    sleep 0.1
  done
  mariadb --no-defaults --socket="$sock" -uroot -e "CREATE DATABASE vudi;
    CREATE USER 'raruzev'@'localhost' IDENTIFIED BY 'raruzev';
    GRANT ALL PRIVILEGES ON *.* TO 'raruzev'@'localhost';" || failed "$dir"

  cat >"$dir/odbcinst.ini" <<EOF
[MariaDB]
Description=MariaDB Connector/ODBC
Driver=$driver
EOF
  cat >"$dir/odbc.ini" <<EOF
[vudi]
Description=private test server
Driver=MariaDB
SERVER=localhost
SOCKET=$sock
DATABASE=vudi

[vudi_down]
Description=a server that is not running
Driver=MariaDB
SERVER=localhost
SOCKET=$dir/no-server.sock
EOF
  # The data source lives in the system file of our own folder; the empty user file keeps the
  # developer's ~/.odbc.ini out.
  : >"$dir/user-odbc.ini"
  trap - ERR
  echo "export VUDI_TEST_DB_DIR='$dir'"
  echo "export ODBCSYSINI='$dir' ODBCINI='$dir/user-odbc.ini'"
}

case "${1:-}" in
  start) start ;;
  stop) stop "${2:-${VUDI_TEST_DB_DIR:-}}" ;;
  *) die "usage: $0 start | stop [DIR]" ;;
esac
