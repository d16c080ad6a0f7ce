#pragma once
// The unit database as a station and its children use it: every call runs on a worker thread
// while the caller waits, so a database that does not answer (a frozen server, a session that
// holds a lock) can never keep a station from answering Ctrl-C or seeing its units. The caller
// waits through UnitDatabase's wait function, which takes the interrupt: on Ctrl-C, or when a
// call outlives its bound, the call is left to its worker and the caller hears that the
// database did not answer. From then on the object only says so (the station opens a new one);
// a final row it can no longer write goes to the unsent rows, which the next connection writes.

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "ledger/UnitDatabase.h"

class InterruptibleDatabase : public UnitDatabase {
public:
    using Opener = std::function<UnitDatabase*(const std::string& url, std::string* error)>;
    // Server-side limits end a lock wait after 5 s and a statement after 30 s; this bounds
    // what they cannot see (a server that stopped answering at all, a connection that hangs).
    static constexpr std::chrono::seconds kCallLimit{40};
    // A run's final row waits this long for the database before it is kept for later, so
    // "Finish OK!" is never held back by a database that went quiet; after Ctrl-C, 1 s.
    static constexpr std::chrono::seconds kFinishLimit{5};
    static constexpr std::chrono::seconds kFinishAfterInterrupt{1};

    // Opens through open on a worker; nothing, with the cause in *error, when it failed, did
    // not answer within kCallLimit or was interrupted.
    static std::unique_ptr<UnitDatabase> Open(const std::string& url, const Opener& open,
                                              std::string* error);
    ~InterruptibleDatabase() override;

    ClaimVerdict Check(const std::string& unitKey, const std::string& sha256,
                       const UnitPolicy& policy) override;
    ClaimVerdict ClaimAndStart(const RunRow& started, const UnitPolicy& policy) override;
    bool Finish(const RunRow& final, std::string* note) override;
    bool ReadRuns(RunHistory& history, std::string* error) override;
    bool ReadRunsSince(const std::string& since, std::vector<RunRow>* rows,
                       std::string* error) override;
    bool Ping(std::string* error) override;

private:
    struct Inner;
    InterruptibleDatabase(std::string url, std::shared_ptr<Inner> inner)
        : m_url(std::move(url)), m_inner(std::move(inner)) {}
    // Runs work on a worker; false when the caller stopped waiting (interrupt or limit), with
    // the reason in *why.
    bool Run(const std::function<void(UnitDatabase&)>& work, std::chrono::seconds limit,
             std::chrono::seconds afterInterrupt, std::string* why);

    std::string m_url;
    std::shared_ptr<Inner> m_inner;
    bool m_abandoned = false;
};
