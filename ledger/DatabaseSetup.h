#pragma once
// A database that refuses a station for a reason no wait will cure (no such database, no such
// role, a wrong password, a role without rights on the schema, a file that is not a database) is
// a set-up mistake, not an outage: the station stops at once and says how to fix it, instead of
// "the database does not answer" for ever. A server that is down, starting, or out of
// connections is an outage: the station waits and tries again.

#include <optional>
#include <string>

// What fixes the set-up mistake that `error` (UnitDatabase::Open's message) describes; nothing
// when the error may pass by itself. Reads PostgreSQL's and SQLite's English messages.
std::optional<std::string> DatabaseSetupAdvice(const std::string& error);
