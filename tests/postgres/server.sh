# A throwaway PostgreSQL server for the postgres tier, sourced by its scripts: initdb into a
# temporary folder, listening on a Unix socket in that folder only, stopped by the caller's trap.
# initdb refuses to run as root, so as root the server runs as the unprivileged "postgres" user
# (Debian's postgresql package makes it) and the folder belongs to that user.
#
#   pg_setup            -> PG_DIR, PG_URL_BASE ("postgresql://USER@/"), PG_HOST_QUERY ("?host=DIR")
#   pg_start / pg_stop  (pg_stop is safe to call twice; call it from an EXIT trap)
#   pg_createdb NAME    -> prints the database's URL

pg_bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -x "$pg_bin/initdb" ] || { echo "postgres tier: no PostgreSQL server (scripts/setup installs postgresql)" >&2; exit 1; }

pg_as() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

pg_setup() {
  PG_DIR=$(mktemp -d /tmp/kestrel-pg-XXXXXX)
  chmod 755 "$PG_DIR"
  [ "$(id -u)" -eq 0 ] && chown postgres:postgres "$PG_DIR"
  PG_USER=$([ "$(id -u)" -eq 0 ] && echo postgres || id -un)
  pg_as "$pg_bin/initdb" -D "$PG_DIR/data" -U "$PG_USER" --auth=trust -E UTF8 >"$PG_DIR/initdb.log" 2>&1 ||
    { cat "$PG_DIR/initdb.log" >&2; return 1; }
  PG_URL_BASE="postgresql://$PG_USER@/"
  PG_HOST_QUERY="?host=$PG_DIR"
}

pg_start() {
  pg_as "$pg_bin/pg_ctl" -D "$PG_DIR/data" -l "$PG_DIR/server.log" -w -t 30 \
    -o "-k $PG_DIR -c listen_addresses='' -c fsync=off" start >/dev/null ||
    { cat "$PG_DIR/server.log" >&2; return 1; }
}

pg_stop() {
  [ -n "${PG_DIR:-}" ] && [ -f "$PG_DIR/data/postmaster.pid" ] &&
    pg_as "$pg_bin/pg_ctl" -D "$PG_DIR/data" -m fast -w stop >/dev/null 2>&1
  return 0
}

pg_cleanup() {
  pg_stop
  [ -n "${PG_DIR:-}" ] && rm -rf "$PG_DIR"
}

pg_createdb() {
  pg_as "$pg_bin/createdb" -h "$PG_DIR" -U "$PG_USER" "$1" >&2 || return 1
  echo "$PG_URL_BASE$1$PG_HOST_QUERY"
}

# An image for the stations: blocks 16..END of a pattern, the marker at 16, family "ST".
pg_test_image() {
  python3 - "$1" "$2" <<'PY'
import sys
start, end = 16, int(sys.argv[2])
data = bytearray(((i * 7) ^ (i >> 9)) & 0xFF for i in range(end * 1024))
data[start * 1024:start * 1024 + 4] = b"PORI"
data[end * 1024 - 8:] = b"ST" + bytes([0x41, 0x42, 0x43, 0x01, 0x44, 0x45])
open(sys.argv[1], "wb").write(data)
PY
}

# Fails a script with its message and what its programs wrote ($work/*.out, *.err).
pg_test_fail() {
  local name=$1
  shift
  echo "$name: $*" >&2
  for f in "$work"/*.out "$work"/*.err; do [ -f "$f" ] && sed "s|^|  $(basename "$f"): |" "$f" >&2; done
  exit 1
}
