#!/usr/bin/env bash
# Roles and databases as a site sets them up, on a throwaway PostgreSQL 15 server:
#   1. the README's set-up (a role, the database owned by it) makes the schema on first use;
#   2. set-up mistakes stop a station at once with their fix, exit 2: no such database, a role
#      without rights on schema public (PostgreSQL 15's default for a database it does not own),
#      a wrong password, a typo in the database's name that no ~/.pgpass line matches, a host
#      name that does not resolve, a server without TLS, no CA certificate, a password with '@'
#      in the URL (the last four against a stand-in that only answers TLS requests, or none);
#   3. a manager's role with SELECT only runs the report, with the owner's figures.
#   roles.sh BUILD_DIR
set -euo pipefail
cli=$1/cli/kestrel-cli
here=$(cd "$(dirname "$0")" && pwd)
. "$here/server.sh"
work=$(mktemp -d /tmp/kestrel-roles-XXXXXX)
trap 'pg_cleanup; [ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
export XDG_STATE_HOME=$work/state
pg_setup
# Passwords are checked for the role "pw" (trust for the others, as the tier's server has it).
sed -i "1i local all pw scram-sha-256" "$PG_DIR/data/pg_hba.conf"
pg_start
fail() { echo "roles: $*" >&2; for f in "$work"/*.err; do [ -f "$f" ] && sed "s|^|  $(basename "$f"): |" "$f" >&2; done; exit 1; }
as_admin() { pg_as "$pg_bin/$1" -h "$PG_DIR" -U "$PG_USER" "${@:2}"; }
sql() { as_admin psql -d "$1" -v ON_ERROR_STOP=1 -qtA -c "$2"; }
url() { echo "postgresql://$1@/$2?host=$PG_DIR"; }

pg_test_image "$work/fw.bin" 40

# 1. As the README says: the role, then the database owned by it. No device here: the run
# stops at "no device" after the database took it (exit 1), and the schema is there.
as_admin createuser line
as_admin createdb -O line kestrel
status=0
"$cli" upgrade --all --yes --db "$(url line kestrel)" "$work/fw.bin" 2>"$work/readme.err" || status=$?
[ "$status" -eq 1 ] || fail "README set-up: exit $status, expected 1 (no device)"
v=$(sql kestrel "SELECT MAX(version) FROM schema_version" 2>&1) || true
# Every migration of the source tree applied, whichever is the latest.
latest=$(ls "$here/../../ledger/migrations" | sed -n 's/^0*\([0-9][0-9]*\)-.*\.sql$/\1/p' | sort -n | tail -n 1)
[ "$v" = "$latest" ] || fail "no schema made: version $v, expected $latest"

# 2. Set-up mistakes: exit 2 at once (a time limit stands for "not for ever"), with the fix.
mistake() {  # NAME EXPECTED_WORDS URL
  local status=0
  timeout 20 "$cli" station --db "$3" --station pc1 "$work/fw.bin" </dev/null \
    >"$work/$1.out" 2>"$work/$1.err" || status=$?
  [ "$status" -eq 2 ] || fail "$1: exit $status, expected 2"
  grep -q -- "$2" "$work/$1.err" || fail "$1: no '$2' in the message"
}
mistake no-database "createdb -O" "$(url line nosuch)"
as_admin createuser guest
mistake no-rights "GRANT CREATE ON SCHEMA public" "$(url guest kestrel)"
sql postgres "CREATE ROLE pw LOGIN PASSWORD 'right'" >/dev/null
PGPASSWORD=wrong mistake wrong-password "password" "$(url pw kestrel)"
printf '%s\n' "$PG_DIR:5432:kestrel:pw:right" >"$work/pgpass"
chmod 600 "$work/pgpass"
PGPASSFILE=$work/pgpass mistake pgpass-typo "no .pgpass line matched $PG_DIR:5432:kestrl:pw" \
  "$(url pw kestrl)"
mistake no-such-host "no such host name" "postgresql://line@db.line.invalid/kestrel"
mistake at-in-password "write '@' as %40" "postgresql://line:p@ss@db.line.invalid/kestrel"
# The stand-in answers a TLS request with "N" (TLS off) or "S" (TLS on, then nothing more).
tls_stand_in() {  # ANSWER -> the port, in $work/ANSWER.port once it listens
  python3 - "$1" "$work/$1.port" <<'PY' &
import socket, struct, sys
answer, port_file = sys.argv[1].encode(), sys.argv[2]
server = socket.socket()
server.bind(("127.0.0.1", 0))
server.listen()
open(port_file + ".tmp", "w").write(str(server.getsockname()[1]))
__import__("os").rename(port_file + ".tmp", port_file)
while True:
    peer, _ = server.accept()
    with peer:
        while len(request := peer.recv(8)) == 8:
            code = struct.unpack("!I", request[4:])[0]
            peer.sendall(b"N" if code == 80877104 else answer)  # no GSS encryption here
            if code == 80877103:
                peer.recv(1)  # until the client gives up
                break
PY
  stand_ins+=("$!")
  while [ ! -s "$work/$1.port" ]; do kill -0 "${stand_ins[-1]}" || fail "stand-in $1 died"; sleep 0.1; done
}
stand_ins=()
trap 'kill "${stand_ins[@]}" 2>/dev/null; pg_cleanup; [ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
tls_stand_in N
tls_stand_in S
mkdir -p "$work/home"
mistake no-tls "turn TLS on at the server" "postgresql://line@127.0.0.1:$(cat "$work/N.port")/kestrel"
HOME=$work/home mistake no-ca "copy the certificate of the CA" \
  "postgresql://line@127.0.0.1:$(cat "$work/S.port")/kestrel"

# 3. Runs in the database, and a manager who may only read them.
sql kestrel "SET ROLE line;
  INSERT INTO stations VALUES ('A', '2026-12-08T05:00:00Z', '2026-12-08T06:00:00Z');
  INSERT INTO runs (run, station, unit, unit_key, serial, file, sha256, type, start_block,
    end_block, family, chip_id, boot_type, started_at, finished_at, seconds, result, message)
  VALUES ('r1', 'A', 'KV1@1-1', 'serial:KV1', 'KV1', 'fw.bin', 'abc', 'bin', 16, 40, 'ST', 'x', 1,
          '2026-12-08T05:00:00Z', '2026-12-08T05:00:08Z', 8, 'failed', 'Send Error!'),
         ('r2', 'A', 'KV2@1-2', 'serial:KV2', 'KV2', 'fw.bin', 'abc', 'bin', 16, 40, 'ST', 'x', 1,
          '2026-12-08T05:01:00Z', NULL, 0, NULL, NULL)" >/dev/null
as_admin createuser manager
sql kestrel "GRANT USAGE ON SCHEMA public TO manager; GRANT SELECT ON ALL TABLES IN SCHEMA public TO manager"
"$cli" report --json "$(url manager kestrel)" >"$work/manager.json" 2>"$work/manager.err" ||
  fail "the read-only role could not run the report"
"$cli" report --json "$(url line kestrel)" >"$work/owner.json" || fail "the owner's report failed"
python3 - "$work/manager.json" "$work/owner.json" <<'PY' || fail "the manager's figures differ"
import json, sys
a, b = (json.load(open(p)) for p in sys.argv[1:])
for r in (a, b): r.pop("generatedAt")
assert a == b, (a, b)
assert a["totals"]["runs"] == 2 and a["units"]["tried"] == 2 and len(a["rework"]) == 2, a
PY
echo "roles: README set-up works, eight set-up mistakes exit 2 with their fix, read-only report"
