// Windows stations keep their JSON Lines records (the report reads them beside a database):
// Debian's mingw toolchain has no SOCI, so --db is not available in this build.

#include "ledger/UnitDatabase.h"

struct UnitDatabase::Impl {};

std::string ClaimVerdict::Message() const {
    return outcome == Outcome::Error ? "database error: " + error : "";
}

bool IsDatabaseUrl(const std::string& url) {
    return url.rfind("sqlite:", 0) == 0 || url.rfind("postgresql://", 0) == 0 ||
           url.rfind("postgres://", 0) == 0;
}

bool DatabaseSupported(std::string* reason) {
    *reason = "--db is not available on Windows; use --record FILE (JSON Lines)";
    return false;
}

UnitDatabase::UnitDatabase(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
UnitDatabase::~UnitDatabase() = default;

std::unique_ptr<UnitDatabase> UnitDatabase::Open(const std::string&, std::string* error) {
    DatabaseSupported(error);
    return nullptr;
}

ClaimVerdict UnitDatabase::Check(const std::string&, const std::string&, const UnitPolicy&) {
    return {};
}
ClaimVerdict UnitDatabase::ClaimAndStart(const RunRow&, const UnitPolicy&) {
    return {};
}
bool UnitDatabase::Finish(const RunRow&, std::string*) {
    return false;
}
bool UnitDatabase::ReadRuns(RunHistory&, std::string*) {
    return false;
}
bool UnitDatabase::Ping(std::string*) {
    return false;
}
