#include "ledger/UnitDatabase.h"

#include <thread>

namespace {

bool PlainSleep(std::chrono::steady_clock::time_point due) {
    std::this_thread::sleep_until(due);
    return true;
}

UnitDatabase::Wait s_wait = PlainSleep;

}  // namespace

void UnitDatabase::SetWait(Wait wait) {
    s_wait = wait ? wait : PlainSleep;
}

bool UnitDatabase::WaitUntil(std::chrono::steady_clock::time_point due) {
    return s_wait(due);
}

std::string ClaimVerdict::Message() const {
    switch (outcome) {
        case Outcome::Claimed:
            return "";
        case Outcome::Busy:
            return "being upgraded at " + station;
        case Outcome::Done:
            return "already upgraded at " + station + " on " + date;
        case Outcome::HeldBack:
            return "held back after " + std::to_string(failures) + " failures";
        case Outcome::Error:
            break;
    }
    return "database error: " + error;
}

bool IsDatabaseUrl(const std::string& url) {
    return url.rfind("sqlite:", 0) == 0 || url.rfind("postgresql://", 0) == 0 ||
           url.rfind("postgres://", 0) == 0;
}
