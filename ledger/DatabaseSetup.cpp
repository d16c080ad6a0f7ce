#include "ledger/DatabaseSetup.h"

#include "ledger/DatabaseUrl.h"

#include <algorithm>
#include <cctype>

std::optional<std::string> DatabaseSetupAdvice(const std::string& error, const std::string& url) {
    std::string text = error;
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const auto has = [&text](const char* part) { return text.find(part) != std::string::npos; };
    if (has("database \"") && has("does not exist"))
        return "create the database on the server, owned by the stations' role: "
               "createdb -O ROLE DATABASE";
    if (has("role \"") && has("does not exist"))
        return "create the stations' role on the server: createuser --pwprompt ROLE";
    if (has("no password supplied")) {
        // The server asked for a password and libpq had none: no ~/.pgpass line matched, most
        // often for a typo in the database's or the role's name.
        std::string key = "HOST:PORT:DB:USER";
        std::string unused;
        if (const auto parsed = DatabaseUrl::Parse(url, &unused); parsed && !parsed->IsSqlite())
            key = parsed->PasswordFileKey();
        return "no .pgpass line matched " + key +
               ": check the database's and the role's names in --db, or add the line " + key +
               ":PASSWORD to ~/.pgpass (or the file PGPASSFILE names; mode 600, libpq ignores "
               "a file others may read)";
    }
    if (has("password authentication failed") || has("fe_sendauth"))
        return "check the role's password (in ~/.pgpass, or the file PGPASSFILE names)";
    if (has("could not translate host name") &&
        (has("name or service not known") || has("no address associated") ||
         has("nodename nor servname")))
        return "no such host name: check the host in --db, or give the server's name in this "
               "PC's DNS or /etc/hosts";
    if (has("server does not support ssl"))
        return "the server has TLS off, and the URL asks for a verified server (sslmode="
               "verify-full for a server over the network): turn TLS on at the server "
               "(ssl = on with its certificate and key in postgresql.conf; the README shows how "
               "to make a test CA and the certificate)";
    if (has("root certificate file") && has("does not exist"))
        return "no CA certificate to check the server with: copy the certificate of the CA "
               "that signed the server's certificate to that path, or name it with "
               "sslrootcert=PATH in the URL";
    if (has("does not match host name"))
        return "the server's certificate names another host: write the host in --db as the "
               "certificate names it, or make the server a certificate for that name";
    if (has("certificate verify failed"))
        return "the server's certificate is not signed by the CA in ~/.postgresql/root.crt (or "
               "sslrootcert): put that CA's certificate there";
    if (has("cannot carry as it is"))
        return "the URL is refused as written; nothing was sent to the server";
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
