#include "ledger/DatabaseSetup.h"

#include <algorithm>
#include <cctype>

std::optional<std::string> DatabaseSetupAdvice(const std::string& error) {
    std::string text = error;
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const auto has = [&text](const char* part) { return text.find(part) != std::string::npos; };
    if (has("database \"") && has("does not exist"))
        return "create the database on the server, owned by the stations' role: "
               "createdb -O ROLE DATABASE";
    if (has("role \"") && has("does not exist"))
        return "create the stations' role on the server: createuser --pwprompt ROLE";
    if (has("password authentication failed") || has("no password supplied") || has("fe_sendauth"))
        return "check the role's password (in ~/.pgpass, or the file PGPASSFILE names)";
    if (has("no pg_hba.conf entry"))
        return "the server does not let this PC in as this role: add a line for it to the "
               "server's pg_hba.conf";
    if (has("permission denied for schema") || has("permission denied for database") ||
        has("permission denied for table") || has("must be owner of"))
        return "the role may not create or write the station's tables: create the database "
               "owned by the stations' role (createdb -O ROLE DATABASE), since PostgreSQL 15 "
               "lets only the owner create tables in schema public, or have the owner run "
               "GRANT CREATE ON SCHEMA public TO ROLE";
    if (has("is newer than this kestrel-cli knows"))
        return "install this station the kestrel-cli version the other stations run";
    if (has("unable to open database file") || has("readonly database") ||
        has("read-only database"))
        return "the SQLite file's folder must exist and the file and folder be writable by "
               "this user";
    if (has("file is not a database") || has("not a kestrel unit database"))
        return "name an SQLite file of Kestrel's, or a new one";
    if (has("not a database url")) return "give sqlite:PATH or postgresql://USER@HOST/DATABASE";
    if (has("kestrel-db.so"))
        return "install the kestrel package whole (lib/kestrel/kestrel-db.so)";
    return std::nullopt;
}
