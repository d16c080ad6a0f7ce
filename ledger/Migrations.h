#pragma once
// The schema's migrations, in order: ledger/migrations/NNN-*.sql, embedded by the build. The
// database's schema_version table holds how many have been applied.

#include <string>
#include <vector>

const std::vector<std::string>& LedgerMigrations();
