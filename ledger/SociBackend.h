#pragma once
// Which SOCI backend reaches a database and what it is given to connect, one implementation per
// platform: SQLite through SOCI's sqlite3 backend on both; PostgreSQL through libpq (SOCI's
// postgresql backend) on Linux and through the site's PostgreSQL ODBC driver (SOCI's odbc
// backend; the driver brings libpq and TLS) on Windows. The SQL is the server's either way.

#include <soci/connection-parameters.h>

class DatabaseUrl;

// readOnly: an SQLite file opened only to be read (the report).
soci::connection_parameters SociConnection(const DatabaseUrl& url, int sqliteBusySeconds,
                                           bool readOnly = false);
