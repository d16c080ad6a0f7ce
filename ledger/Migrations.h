#pragma once
// The schema's migrations, in order: ledger/migrations/NNN-*.sql, embedded by the build, each
// with its number NNN. The database's schema_version table has a row per migration applied, so
// a migration numbered below one already applied (two branches' migrations landing in either
// order) is still applied once.

#include <string>
#include <vector>

struct Migration {
    int version;
    const char* sql;
};

const std::vector<Migration>& LedgerMigrations();
