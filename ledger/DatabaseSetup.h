#pragma once
// A database that refuses a station for a reason no wait will cure (no such database, no such
// role, a wrong password, a role without rights on the schema, a file that is not a database) is
// a set-up mistake, not an outage: the station stops at once and says how to fix it, instead of
// "the database does not answer" for ever. A server that is down, starting, or out of
// connections is an outage: the station waits and tries again.

#include <optional>
#include <string>

// A host name that does not resolve, a server without TLS where the URL asks for it, a missing
// or wrong CA certificate, and a URL refused as written are set-up mistakes as well: no wait
// brings a name into the DNS or a certificate onto the PC.

// What fixes the set-up mistake that `error` (UnitDatabase::Open's message) describes; nothing
// when the error may pass by itself. Reads PostgreSQL's and SQLite's English messages. With
// the --db URL, a password libpq found nowhere names the ~/.pgpass line it looked for.
std::optional<std::string> DatabaseSetupAdvice(const std::string& error,
                                               const std::string& url = {});
