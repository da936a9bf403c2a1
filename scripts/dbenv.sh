#!/usr/bin/env bash
# The two local stand-ins for the KingbaseES servers that DataMigration talks to.
#
#   scripts/dbenv.sh start              create (first time) and start both servers, wait until they answer
#   scripts/dbenv.sh stop [bf|hy]       stop both servers, or one (only the ones of this checkout's .dbenv)
#   scripts/dbenv.sh status             one line per server; exit 0 when both run, 3 otherwise
#   scripts/dbenv.sh reset              recreate ZOR and STAT with their tables and no rows
#   scripts/dbenv.sh seed [--rows N]    reset, then fill the source ZOR with the sample data
#                                       (N = rows of rptreportdata, default 300); STAT stays empty
#   scripts/dbenv.sh psql bf|hy [args]  psql as SYSTEM on ZOR (bf) or QIMZORTJ on STAT (hy) over TCP
#
# Servers (PostgreSQL 15, listening on 127.0.0.1 only, password login):
#   bf  port 59021  database "ZOR"   role "SYSTEM"    the version 3.1 data (backup source)
#   hy  port 54321  database "STAT"  role "QIMZORTJ"  the version 4.0 data (restore target), schema "DBO",
#                                                     tablespace "SYSTEM"
# The target plays an older server generation: standard_conforming_strings = off (the PostgreSQL-family
# default before 9.1), so a backslash inside '...' starts an escape there, and escape_string_warning = off
# so that its log stays readable. The source keeps the modern setting (on). Every start applies this,
# also to clusters created before it was the rule; every session follows it, psql bf|hy included.
# Everything lives in <checkout>/.dbenv: bf/ and hy/ (data), run/ (sockets), log/, tblspc/, odbc/
# (odbcinst.ini mapping "KingbaseES ODBC driver" and "KingbaseES 6 ODBC driver" to psqlODBC; point
# ODBCSYSINI at it). The servers run as the 'postgres' system user when the script runs as root.
# reset and seed drop the databases: open sessions on them are disconnected.
set -euo pipefail

REPO="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SQLDIR="$REPO/scripts/db"
ENVDIR="$REPO/.dbenv"
RUNDIR="$ENVDIR/run"
LOGDIR="$ENVDIR/log"
PGBIN=/usr/lib/postgresql/15/bin
DRIVER_SO=/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so

declare -A PORT=([bf]=59021 [hy]=54321)
declare -A DB=([bf]=ZOR [hy]=STAT)
declare -A ROLE=([bf]=SYSTEM [hy]=QIMZORTJ)
declare -A PASS=([bf]=PLOVERX [hy]=7F3A1C9E5B2D4086A1E3C5F7092B4D6E)
PROFILES=(bf hy)

die() { echo "dbenv: $*" >&2; exit 1; }

# Runs a command as the owner of the clusters (initdb and the server refuse to run as root).
if [ "$(id -u)" = 0 ]; then
  PGUSER_OS=postgres
  as_owner() { runuser -u "$PGUSER_OS" -- "$@"; }
else
  PGUSER_OS="$(id -un)"
  as_owner() { "$@"; }
fi

datadir() { echo "$ENVDIR/$1"; }

# Superuser session over the cluster's socket (trust on the socket only).
admin_psql() {
  local p="$1" db="$2"; shift 2
  PGOPTIONS="-c client_min_messages=warning" "$PGBIN/psql" -X -q -w -v ON_ERROR_STOP=1 -h "$RUNDIR" -p "${PORT[$p]}" -U postgres -d "$db" "$@"
}

is_running() {
  [ -f "$(datadir "$1")/PG_VERSION" ] && as_owner "$PGBIN/pg_ctl" -D "$(datadir "$1")" status >/dev/null 2>&1
}

# Serialises start/stop/reset/seed of concurrent callers. The servers must not inherit the descriptor
# (they would hold the lock for their whole life): see start_cluster.
LOCKED=0
lock() {
  [ "$LOCKED" = 1 ] && return 0
  mkdir -p "$ENVDIR"
  exec 9>"$ENVDIR/dbenv.lock"
  flock 9
  LOCKED=1
}

write_odbc_ini() {
  mkdir -p "$ENVDIR/odbc"
  local f="$ENVDIR/odbc/odbcinst.ini" name
  {
    echo "# Written by scripts/dbenv.sh: the KingbaseES driver names played by psqlODBC (Unicode)."
    echo "# psqlODBC (09.06 and later) reports bytea as SQL_LONGVARBINARY by default; options in these"
    echo "# driver sections (ByteaAsLongVarBinary, TextAsLongVarchar, ...) are not read by it."
    echo
    for name in "KingbaseES ODBC driver" "KingbaseES 6 ODBC driver"; do
      echo "[$name]"
      echo "Description=PostgreSQL stand-in for $name"
      echo "Driver=$DRIVER_SO"
      echo "UsageCount=1"
      echo
    done
  } >"$f.tmp"
  mv "$f.tmp" "$f"
  : >"$ENVDIR/odbc/odbc.ini"
}

init_cluster() {
  local p="$1" dd
  dd="$(datadir "$p")"
  as_owner test -x "$ENVDIR" || die "user $PGUSER_OS cannot reach $ENVDIR"
  mkdir -p "$dd"
  chown "$PGUSER_OS" "$dd"
  chmod 700 "$dd"
  as_owner "$PGBIN/initdb" -D "$dd" -U postgres -A trust -E UTF8 --locale=C.UTF-8 --no-sync \
    >"$LOGDIR/initdb-$p.log" 2>&1 || die "initdb $p failed, see $LOGDIR/initdb-$p.log"
  cat >>"$dd/postgresql.conf" <<EOF

# stand-in settings (scripts/dbenv.sh)
listen_addresses = '127.0.0.1'
port = ${PORT[$p]}
unix_socket_directories = '$RUNDIR'
password_encryption = 'scram-sha-256'
max_connections = 100
shared_buffers = 32MB
fsync = off
synchronous_commit = off
full_page_writes = off
wal_level = minimal
max_wal_senders = 0
max_wal_size = 1GB
checkpoint_timeout = 30min
lc_messages = 'C'
timezone = 'Asia/Shanghai'
log_min_messages = warning
EOF
  cat >"$dd/pg_hba.conf" <<EOF
# TYPE  DATABASE  USER  ADDRESS        METHOD
local   all       all                  trust
host    all       all   127.0.0.1/32   scram-sha-256
EOF
}

# The server must hold none of the caller's descriptors (a pipe of a test runner, the lock): it closes
# everything above stderr before starting; its own output goes to the log.
start_cluster() {
  local p="$1"
  is_running "$p" && return 0
  (
    for fd in /proc/$BASHPID/fd/*; do
      fd="${fd##*/}"
      [ "$fd" -gt 2 ] 2>/dev/null && eval "exec $fd>&-" 2>/dev/null
    done
    as_owner "$PGBIN/pg_ctl" -D "$(datadir "$p")" -l "$LOGDIR/$p.log" -w -t 60 -s start </dev/null
  ) || die "server $p did not start, see $LOGDIR/$p.log"
}

wait_ready() {
  local p="$1" i
  for i in $(seq 1 120); do
    "$PGBIN/pg_isready" -q -h 127.0.0.1 -p "${PORT[$p]}" && return 0
    sleep 0.5
  done
  die "server $p does not accept connections"
}

# Cluster-wide objects: roles, the tablespace, and the KingbaseES traits in template1 (so every
# database created afterwards carries them).
setup_cluster() {
  local p="$1"
  admin_psql "$p" template1 -f "$SQLDIR/traits.sql" >/dev/null
  admin_psql "$p" postgres -f "$SQLDIR/traits.sql" >/dev/null
  admin_psql "$p" postgres -v role="${ROLE[$p]}" -v pw="${PASS[$p]}" >/dev/null <<'EOF'
SELECT format('CREATE ROLE %I', :'role') WHERE NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = :'role') \gexec
ALTER ROLE :"role" LOGIN PASSWORD :'pw';
EOF
  if [ "$p" = hy ]; then
    local ts="$ENVDIR/tblspc/hy"
    mkdir -p "$ts"
    chown "$PGUSER_OS" "$ENVDIR/tblspc" "$ts"
    admin_psql "$p" postgres -v loc="$ts" >/dev/null <<'EOF'
SELECT format('CREATE TABLESPACE "SYSTEM" LOCATION %L', :'loc')
 WHERE NOT EXISTS (SELECT 1 FROM pg_tablespace WHERE spcname = 'SYSTEM') \gexec
GRANT CREATE ON TABLESPACE "SYSTEM" TO "QIMZORTJ";
ALTER ROLE "QIMZORTJ" SET search_path = "DBO", public;
EOF
  fi
}

# How the server reads a backslash inside '...' (see the header); escape_string_warning follows it.
declare -A STANDARD_STRINGS=([bf]=on [hy]=off)
apply_string_settings() {
  local p="$1"
  admin_psql "$p" postgres -v scs="${STANDARD_STRINGS[$p]}" >/dev/null <<'EOF'
SELECT format('ALTER SYSTEM SET standard_conforming_strings = %s', :'scs')
 WHERE current_setting('standard_conforming_strings') <> :'scs' \gexec
SELECT format('ALTER SYSTEM SET escape_string_warning = %s', :'scs')
 WHERE current_setting('escape_string_warning') <> :'scs' \gexec
SELECT pg_reload_conf();
EOF
}

# Drops and recreates the profile's database with its tables, no rows.
recreate_db() {
  local p="$1"
  admin_psql "$p" postgres -c "DROP DATABASE IF EXISTS \"${DB[$p]}\" WITH (FORCE)" \
    -c "CREATE DATABASE \"${DB[$p]}\" OWNER \"${ROLE[$p]}\"" >/dev/null
  if [ "$p" = bf ]; then
    admin_psql "$p" "${DB[$p]}" -1 -c 'ALTER SCHEMA public OWNER TO "SYSTEM"' \
      -c 'SET ROLE "SYSTEM"' -f "$SQLDIR/source_schema.sql" >/dev/null
  else
    admin_psql "$p" "${DB[$p]}" -1 -c 'CREATE SCHEMA "DBO" AUTHORIZATION "QIMZORTJ"' \
      -c 'ALTER DATABASE "STAT" SET search_path = "DBO", public' \
      -c 'SET ROLE "QIMZORTJ"' -c 'SET search_path = "DBO", public' \
      -c 'SET default_tablespace = "SYSTEM"' -f "$SQLDIR/target_schema.sql" >/dev/null
  fi
}

cmd_start() {
  lock
  mkdir -p "$RUNDIR" "$LOGDIR" "$ENVDIR/state"
  chown "$PGUSER_OS" "$RUNDIR" "$LOGDIR"
  chmod 755 "$RUNDIR"
  write_odbc_ini
  local p
  for p in "${PROFILES[@]}"; do
    [ -f "$(datadir "$p")/PG_VERSION" ] || { rm -f "$ENVDIR/state/$p.ready"; init_cluster "$p"; }
    start_cluster "$p"
  done
  for p in "${PROFILES[@]}"; do
    wait_ready "$p"
    apply_string_settings "$p"
    if [ ! -f "$ENVDIR/state/$p.ready" ]; then
      setup_cluster "$p"
      recreate_db "$p"
      touch "$ENVDIR/state/$p.ready"
    else
      # A cluster set up before the traits last changed gets them as they are now.
      admin_psql "$p" template1 -f "$SQLDIR/traits.sql" >/dev/null
      admin_psql "$p" "${DB[$p]}" -f "$SQLDIR/traits.sql" >/dev/null
    fi
  done
}

cmd_stop() {
  local which=("${PROFILES[@]}")
  if [ $# -gt 0 ]; then
    [ "$1" = bf ] || [ "$1" = hy ] || die "usage: dbenv.sh stop [bf|hy]"
    which=("$1")
  fi
  lock
  local p
  for p in "${which[@]}"; do
    if is_running "$p"; then
      as_owner "$PGBIN/pg_ctl" -D "$(datadir "$p")" -m fast -w -s stop
    fi
  done
}

cmd_status() {
  local p rc=0
  for p in "${PROFILES[@]}"; do
    if is_running "$p"; then
      echo "$p: running on 127.0.0.1:${PORT[$p]} database ${DB[$p]} role ${ROLE[$p]}"
    elif [ -f "$(datadir "$p")/PG_VERSION" ]; then
      echo "$p: stopped"; rc=3
    else
      echo "$p: not created"; rc=3
    fi
  done
  return $rc
}

need_running() {
  local p
  for p in "${PROFILES[@]}"; do
    is_running "$p" && [ -f "$ENVDIR/state/$p.ready" ] || die "servers not running: scripts/dbenv.sh start"
  done
}

cmd_reset() {
  lock
  need_running
  recreate_db bf
  recreate_db hy
}

cmd_seed() {
  local rows=300
  while [ $# -gt 0 ]; do
    case "$1" in
      --rows) [ $# -ge 2 ] || die "--rows needs a number"; rows="$2"; shift 2 ;;
      --rows=*) rows="${1#--rows=}"; shift ;;
      *) die "seed: unknown argument $1" ;;
    esac
  done
  [[ "$rows" =~ ^[0-9]+$ ]] || die "--rows needs a number"
  cmd_reset
  admin_psql bf ZOR -1 -c 'SET ROLE "SYSTEM"' -v rows="$rows" -f "$SQLDIR/seed.sql" >/dev/null
}

cmd_psql() {
  local p="${1:-}"
  [ "$p" = bf ] || [ "$p" = hy ] || die "usage: dbenv.sh psql bf|hy [psql args]"
  shift
  PGPASSWORD="${PASS[$p]}" exec "$PGBIN/psql" -X -h 127.0.0.1 -p "${PORT[$p]}" -U "${ROLE[$p]}" -d "${DB[$p]}" "$@"
}

case "${1:-}" in
  start) cmd_start ;;
  stop) shift; cmd_stop "$@" ;;
  status) cmd_status ;;
  reset) cmd_reset ;;
  seed) shift; cmd_seed "$@" ;;
  psql) shift; cmd_psql "$@" ;;
  *) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2 ;;
esac
