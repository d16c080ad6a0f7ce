#!/usr/bin/env bash
# The unit database's cases again on PostgreSQL (advisory-lock claims, the same SQL), each in a
# fresh database on a throwaway server.
#   ledger-on-postgres.sh LEDGER_TESTS_BINARY
set -euo pipefail
tests=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/server.sh"
trap pg_cleanup EXIT
pg_setup
pg_start
n=0
# The database's own cases and the report's (the same figures from PostgreSQL as from files).
for case in $("$tests" --gtest_list_tests --gtest_filter='UnitDatabaseTest.*:ReportSourcesTest.*' |
  awk '/^[^ ]/ { suite = $1 } /^  / { print suite $1 }'); do
  n=$((n + 1))
  url=$(pg_createdb "case$n")
  KESTREL_TEST_DATABASE=$url "$tests" --gtest_filter="$case" --gtest_brief=1
done
[ "$n" -gt 0 ] || { echo "no UnitDatabaseTest cases found" >&2; exit 1; }
echo "ledger-on-postgres: $n cases passed on PostgreSQL"
