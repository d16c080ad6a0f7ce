// Windows stations keep their JSON Lines records (the report reads them beside a database):
// Debian's mingw toolchain has no SOCI, so --db is not available in this build.

#include "ledger/ReportDatabase.h"
#include "ledger/UnitDatabase.h"

bool DatabaseSupported(std::string* reason) {
    *reason = "--db is not available on Windows; use --record FILE (JSON Lines)";
    return false;
}

std::unique_ptr<UnitDatabase> UnitDatabase::Open(const std::string&, std::string* error) {
    DatabaseSupported(error);
    return nullptr;
}

std::unique_ptr<ReportDatabase> ReportDatabase::Open(const std::string&, std::string* error) {
    DatabaseSupported(error);
    *error = "databases cannot be read on Windows; give the stations' record files (JSON Lines)";
    return nullptr;
}

std::string DatabaseArgumentForChildren(const std::string& url) {
    return url;  // never used: --db is refused before any child starts
}
