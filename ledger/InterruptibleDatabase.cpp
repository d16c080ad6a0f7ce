#include "ledger/InterruptibleDatabase.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <tuple>

#include "ledger/UnsentRows.h"

namespace {

using SteadyClock = std::chrono::steady_clock;
constexpr auto kLook = std::chrono::milliseconds(20);

// One call's hand-over between the caller and its worker; whoever finishes last frees it.
struct Job {
    std::mutex mutex;
    std::condition_variable doneWake;
    bool done = false;
};

// Waits for the job; false when the caller gave up. The wait function takes an interrupt only
// while it sleeps, so it is given a moment between looks at the job.
bool Await(Job& job, std::chrono::seconds limit, std::chrono::seconds afterInterrupt,
           std::string* why) {
    const auto start = SteadyClock::now();
    for (;;) {
        {
            std::unique_lock lock(job.mutex);
            if (job.doneWake.wait_for(lock, kLook, [&job] { return job.done; })) return true;
        }
        const bool interrupted =
            !UnitDatabase::WaitUntil(SteadyClock::now() + std::chrono::milliseconds(1));
        const auto waited = SteadyClock::now() - start;
        if (interrupted && waited >= afterInterrupt) {
            *why = "interrupted while waiting for the database";
            return false;
        }
        if (waited >= limit) {
            *why = "the database did not answer within " + std::to_string(limit.count()) + " s";
            return false;
        }
    }
}

}  // namespace

struct InterruptibleDatabase::Inner {
    std::unique_ptr<UnitDatabase> db;
};

std::unique_ptr<UnitDatabase> InterruptibleDatabase::Open(const std::string& url,
                                                          const Opener& open, std::string* error) {
    auto inner = std::make_shared<Inner>();
    auto job = std::make_shared<Job>();
    auto opened = std::make_shared<std::string>();
    std::thread([inner, job, opened, url, open] {
        std::string cause;
        std::unique_ptr<UnitDatabase> db(open(url, &cause));
        std::lock_guard lock(job->mutex);
        inner->db = std::move(db);
        *opened = cause;
        job->done = true;
        job->doneWake.notify_all();
    }).detach();
    std::string why;
    if (!Await(*job, kCallLimit, std::chrono::seconds(0), &why)) {
        *error = "cannot use the database: " + why;
        return nullptr;
    }
    std::lock_guard lock(job->mutex);
    if (!inner->db) {
        *error = *opened;
        return nullptr;
    }
    return std::unique_ptr<UnitDatabase>(new InterruptibleDatabase(url, inner));
}

InterruptibleDatabase::~InterruptibleDatabase() {
    // After Ctrl-C the program ends at once: closing the connection (and a station's resender
    // in the middle of a call to a database that does not answer) is left to a worker rather
    // than waited for.
    if (!UnitDatabase::WaitUntil(SteadyClock::now()))
        std::thread([inner = std::move(m_inner)]() mutable { inner.reset(); }).detach();
}

bool InterruptibleDatabase::Run(const std::function<void(UnitDatabase&)>& work,
                                std::chrono::seconds limit, std::chrono::seconds afterInterrupt,
                                std::string* why) {
    if (m_abandoned) {
        *why = "the database did not answer earlier";
        return false;
    }
    auto job = std::make_shared<Job>();
    // The worker keeps the connection alive however long the database takes; the last of the
    // two to finish frees it.
    std::thread([inner = m_inner, job, work] {
        work(*inner->db);
        std::lock_guard lock(job->mutex);
        job->done = true;
        job->doneWake.notify_all();
    }).detach();
    if (Await(*job, limit, afterInterrupt, why)) return true;
    m_abandoned = true;
    return false;
}

ClaimVerdict InterruptibleDatabase::Check(const std::string& unitKey, const std::string& sha256,
                                          const UnitPolicy& policy) {
    auto verdict = std::make_shared<ClaimVerdict>();
    std::string why;
    if (Run([verdict, unitKey, sha256,
             policy](UnitDatabase& db) { *verdict = db.Check(unitKey, sha256, policy); },
            kCallLimit, std::chrono::seconds(0), &why))
        return *verdict;
    ClaimVerdict error;
    error.error = why;
    return error;
}

ClaimVerdict InterruptibleDatabase::ClaimAndStart(const RunRow& started, const UnitPolicy& policy) {
    auto verdict = std::make_shared<ClaimVerdict>();
    std::string why;
    if (Run([verdict, started,
             policy](UnitDatabase& db) { *verdict = db.ClaimAndStart(started, policy); },
            kCallLimit, std::chrono::seconds(0), &why))
        return *verdict;
    // The claim may still be committed by the worker; the run does not start, and the report
    // shows a started row without a final one as an interrupted run.
    ClaimVerdict error;
    error.error = why;
    return error;
}

bool InterruptibleDatabase::Finish(const RunRow& final, std::string* note) {
    auto result = std::make_shared<std::pair<bool, std::string>>();
    std::string why;
    if (Run([result,
             final](UnitDatabase& db) { result->first = db.Finish(final, &result->second); },
            kFinishLimit, kFinishAfterInterrupt, &why)) {
        *note = result->second;
        return result->first;
    }
    std::string cause;
    const std::optional<UnsentRows> unsent = UnsentRows::For(m_url, &cause);
    if (!unsent || !unsent->Keep(final, &cause)) {
        *note = "the database did not take the final record (" + why +
                ") and it cannot be kept for later: " + cause;
        return false;
    }
    *note = "the database did not take the final record (" + why + "); it waits in " +
            unsent->Path() + " and is written when the database answers";
    return true;
}

bool InterruptibleDatabase::ReadRuns(RunHistory& history, std::string* error) {
    // The report reads on the caller's thread: it may take long, and Ctrl-C ends it by default.
    if (m_abandoned) *error = "the database did not answer earlier";
    return !m_abandoned && m_inner->db->ReadRuns(history, error);
}

bool InterruptibleDatabase::ReadRunsSince(const std::string& since, std::vector<RunRow>* rows,
                                          std::string* error) {
    auto result = std::make_shared<std::tuple<bool, std::vector<RunRow>, std::string>>();
    if (!Run(
            [result, since](UnitDatabase& db) {
                std::get<0>(*result) =
                    db.ReadRunsSince(since, &std::get<1>(*result), &std::get<2>(*result));
            },
            kCallLimit, std::chrono::seconds(0), error))
        return false;
    *rows = std::move(std::get<1>(*result));
    *error = std::get<2>(*result);
    return std::get<0>(*result);
}

bool InterruptibleDatabase::Ping(std::string* error) {
    auto result = std::make_shared<std::pair<bool, std::string>>();
    if (Run([result](UnitDatabase& db) { result->first = db.Ping(&result->second); }, kCallLimit,
            std::chrono::seconds(0), error)) {
        *error = result->second;
        return result->first;
    }
    return false;
}
