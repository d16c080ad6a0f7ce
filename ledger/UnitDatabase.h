#pragma once
// The unit database several stations share: every run's started and final rows, the claim a
// station holds on a unit while it flashes it, and the policy across stations (a unit already
// upgraded with this image, a unit that failed too often). One C++ API over SQLite
// ("sqlite:PATH", one PC) and PostgreSQL ("postgresql://...", a libpq URI, a line of PCs) through
// SOCI. Linux only: the Windows build keeps JSON Lines and Open says so.
//
// The SOCI implementation is a module of its own (kestrel-db.so, beside kestrel-cli or in
// lib/kestrel/), loaded by Open: the database libraries (SOCI, libpq and what it needs) are
// loaded only by a run that uses a database, not by every kestrel-cli start.
//
// Claims die with their holder. PostgreSQL: a session advisory lock on the unit key, held by the
// run's own connection, so a station that crashes or loses power frees it when its connection
// drops. SQLite: a claims row that lapses 30 s after its holder's last heartbeat (every 5 s
// while the run goes on).

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "ledger/RunHistory.h"
#include "ledger/RunRow.h"

struct UnitPolicy {
    bool skipDone = false;  // refuse a unit with a finished ok run of this SHA-256 anywhere
    int maxAttempts = 0;    // refuse a unit that failed this often anywhere; 0: no limit
};

struct ClaimVerdict {
    enum class Outcome { Claimed, Busy, Done, HeldBack, Error };
    Outcome outcome = Outcome::Error;
    std::string station;  // Busy: the holder; Done: where it was upgraded
    std::string date;     // Done: "YYYY-MM-DD" of that run
    int failures = 0;     // HeldBack
    std::string error;    // Error: what the database said

    bool Allowed() const { return outcome == Outcome::Claimed; }
    // "being upgraded at STATION", "already upgraded at STATION on DATE", "held back after N
    // failures", or the database's error.
    std::string Message() const;
};

class UnitDatabase {
public:
    // Connects and brings the schema up to date (a new SQLite file is created, in WAL mode).
    // Nothing, with the cause in *error, when the URL is not understood or the database cannot
    // be reached.
    static std::unique_ptr<UnitDatabase> Open(const std::string& url, std::string* error);
    virtual ~UnitDatabase() = default;

    // How a caller waits for the database: until due, false when the person interrupted the
    // program (Ctrl-C) meanwhile. The console gives its interrupt's sleep; by default a plain
    // sleep. The database's calls wait through it (see InterruptibleDatabase).
    using Wait = bool (*)(std::chrono::steady_clock::time_point due);
    static void SetWait(Wait wait);
    static bool WaitUntil(std::chrono::steady_clock::time_point due);

    // The cross-station policy alone, without claiming (a station deciding whether to start a
    // unit). Claimed means "go ahead".
    virtual ClaimVerdict Check(const std::string& unitKey, const std::string& sha256,
                               const UnitPolicy& policy) = 0;
    // In one transaction: claims the unit for the run, applies the policy and writes the run's
    // started row. Only a Claimed verdict lets the start frame go out.
    virtual ClaimVerdict ClaimAndStart(const RunRow& started, const UnitPolicy& policy) = 0;
    // Writes the run's final row (inserting it when the run never started) and gives the claim
    // up. After a lost connection it reconnects once; when that fails too, or the database
    // does not answer within a few seconds, the row is kept in a file of unsent rows (see
    // UnsentRows) that the next connection to this database writes, and *note says so. False,
    // with the cause in *note, only when the row could be neither written nor kept.
    virtual bool Finish(const RunRow& final, std::string* note) = 0;
    // Every run, into history.
    virtual bool ReadRuns(RunHistory& history, std::string* error) = 0;
    // The runs that started or ended at or after `since` (UTC, ISO 8601, e.g. "2026-12-08"),
    // oldest first, for the line's page. Only reads; after a lost connection it reconnects
    // once. False with the cause in *error when the database does not answer.
    virtual bool ReadRunsSince(const std::string& since, std::vector<RunRow>* rows,
                               std::string* error) = 0;
    // Reconnects when the connection was lost; true when the database answers (and the rows
    // that waited for it have been written). An object a station asks (Check, Ping) also writes
    // rows that wait within a few seconds of the database answering again, idle or not.
    virtual bool Ping(std::string* error) = 0;
};

// The --db argument that hands url to a child process: on Linux "env:KESTREL_DB_URL", with the
// URL put into this process's environment, which children inherit and only their own user (and
// root) can read, unlike a command line, which `ps` shows every user of the machine.
std::string DatabaseArgumentForChildren(const std::string& url);
// True for the URLs --db takes ("sqlite:PATH", "postgresql://...", "postgres://...").
bool IsDatabaseUrl(const std::string& url);
// Whether this build has the database at all; else the reason to show for --db.
bool DatabaseSupported(std::string* reason);
