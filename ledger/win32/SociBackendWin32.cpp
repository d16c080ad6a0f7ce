// PostgreSQL through the site's PostgreSQL ODBC driver (psqlODBC): Windows has ODBC built in,
// and the driver brings its own libpq and TLS, so Kestrel ships no database client of its own
// beyond SOCI and SQLite. The driver is the one KESTREL_ODBC_DRIVER names, else the first
// installed "PostgreSQL Unicode" driver (the driver's installer names it "PostgreSQL
// Unicode(x64)").

#include <windows.h>

#include <soci/odbc/soci-odbc.h>
#include <soci/sqlite3/soci-sqlite3.h>
#include <sql.h>
#include <sqlext.h>

#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "ledger/DatabaseUrl.h"
#include "ledger/SociBackend.h"

namespace {

// The ODBC drivers installed, by name.
std::vector<std::string> InstalledDrivers() {
    std::vector<std::string> names;
    SQLHENV env = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) return names;
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLCHAR name[256];
    SQLCHAR attributes[1024];
    SQLSMALLINT nameLength = 0;
    SQLSMALLINT attributesLength = 0;
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    while (SQL_SUCCEEDED(SQLDrivers(env, direction, name, sizeof name, &nameLength, attributes,
                                    sizeof attributes, &attributesLength))) {
        names.emplace_back(reinterpret_cast<const char*>(name));
        direction = SQL_FETCH_NEXT;
    }
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return names;
}

std::string PostgresDriver() {
    const char* chosen = std::getenv("KESTREL_ODBC_DRIVER");
    if (chosen && *chosen) return chosen;
    const std::vector<std::string> drivers = InstalledDrivers();
    for (const char* wanted : {"PostgreSQL Unicode", "PostgreSQL ANSI"})
        for (const std::string& driver : drivers)
            if (driver.rfind(wanted, 0) == 0) return driver;
    throw std::runtime_error(
        "no PostgreSQL ODBC driver is installed; install psqlODBC (\"PostgreSQL Unicode(x64)\"), "
        "or name the driver to use in KESTREL_ODBC_DRIVER");
}

}  // namespace

soci::connection_parameters SociConnection(const DatabaseUrl& url, int sqliteBusySeconds,
                                           bool readOnly) {
    if (url.IsSqlite())
        return {*soci::factory_sqlite3(),
                url.Connect(sqliteBusySeconds) + (readOnly ? " readonly=1" : "")};
    std::string error;
    const std::optional<std::string> connect = url.OdbcConnect(PostgresDriver(), &error);
    if (!connect) throw std::runtime_error(error);
    soci::connection_parameters parameters(*soci::factory_odbc(), *connect);
    // Never a dialog asking for what the URL lacks: a station has no one to answer it.
    parameters.set_option(soci::odbc_option_driver_complete, "0");  // SQL_DRIVER_NOPROMPT
    return parameters;
}
