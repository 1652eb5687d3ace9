#!/usr/bin/env bash
# The ODBC set-up of the SQL tests, kept out of the machine's own configuration: an odbcinst.ini
# naming the SQLite and PostgreSQL drivers, an odbc.ini with the one DSN "qz_sqlite" (an in-memory
# database), and a private PostgreSQL cluster with trust authentication that listens only on a
# Unix socket in its own temporary directory. The tests find the PostgreSQL connection string in
# STATE/pg.conn.
# Usage: sql_fixture.sh setup|cleanup STATE
set -u
action=$1 state=$2

find_driver() {  # file name
  local hit
  for dir in /usr/lib/x86_64-linux-gnu/odbc /usr/lib/odbc /usr/local/lib; do
    [ -f "$dir/$1" ] && { echo "$dir/$1"; return 0; }
  done
  hit=$(find /usr/lib /usr/local/lib -name "$1" -print -quit 2>/dev/null)
  [ -n "$hit" ] && { echo "$hit"; return 0; }
  return 1
}

as_server_user() {
  if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

stop_cluster() {
  [ -f "$state/pg_dir" ] || return 0
  local dir bindir
  dir=$(cat "$state/pg_dir")
  bindir=$(cat "$state/pg_bindir" 2>/dev/null)
  if [ -n "$dir" ] && [ -d "$dir/data" ] && [ -n "$bindir" ]; then
    as_server_user "$bindir/pg_ctl" -D "$dir/data" -m immediate -w stop > /dev/null 2>&1
  fi
  [ -n "$dir" ] && rm -rf "$dir"
  rm -f "$state/pg_dir" "$state/pg_bindir" "$state/pg.conn"
}

case $action in
  setup)
    mkdir -p "$state"
    stop_cluster
    sqlite=$(find_driver libsqlite3odbc.so) || { echo "SQLite ODBC driver not installed" >&2; exit 1; }
    psql=$(find_driver psqlodbcw.so) || { echo "PostgreSQL ODBC driver not installed" >&2; exit 1; }
    cat > "$state/odbcinst.ini" <<INI
[SQLite3]
Description=SQLite3 ODBC driver
Driver=$sqlite
Threading=2
DontDLClose=1

[PostgreSQL Unicode]
Description=PostgreSQL ODBC driver (Unicode)
Driver=$psql
DontDLClose=1
INI
    cat > "$state/odbc.ini" <<INI
[qz_sqlite]
Driver=SQLite3
Database=:memory:
INI
    bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
    [ -x "$bindir/initdb" ] || { echo "PostgreSQL server not installed" >&2; exit 1; }
    dir=$(mktemp -d /tmp/qz_pg_XXXXXX) || exit 1
    echo "$dir" > "$state/pg_dir"
    echo "$bindir" > "$state/pg_bindir"
    chmod 755 "$dir"
    [ "$(id -u)" = 0 ] && chown postgres: "$dir"
    if ! as_server_user "$bindir/initdb" -A trust -U postgres -E UTF8 --locale=C.UTF-8 --no-sync \
         -D "$dir/data" > "$dir/initdb.log" 2>&1; then
      cat "$dir/initdb.log" >&2; stop_cluster; exit 1
    fi
    if ! as_server_user "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
         -o "-c listen_addresses= -k $dir -p 5432 -c fsync=off -c max_connections=60" start > /dev/null; then
      cat "$dir/server.log" >&2; stop_cluster; exit 1
    fi
    printf "%s" "Driver={PostgreSQL Unicode};Servername=$dir;Port=5432;Database=postgres;Username=postgres" > "$state/pg.conn"
    ;;
  cleanup)
    stop_cluster
    ;;
  *)
    echo "usage: $0 setup|cleanup STATE" >&2; exit 2
    ;;
esac
