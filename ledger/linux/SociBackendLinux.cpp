// PostgreSQL through libpq: the URL goes to libpq as it is, with what DatabaseUrl adds.
#include <soci/postgresql/soci-postgresql.h>
#include <soci/sqlite3/soci-sqlite3.h>

#include "ledger/DatabaseUrl.h"
#include "ledger/SociBackend.h"

soci::connection_parameters SociConnection(const DatabaseUrl& url, int sqliteBusySeconds,
                                           bool readOnly) {
    if (url.IsSqlite())
        return {*soci::factory_sqlite3(),
                url.Connect(sqliteBusySeconds) + (readOnly ? " readonly=1" : "")};
    return {*soci::factory_postgresql(), url.Connect(sqliteBusySeconds)};
}
