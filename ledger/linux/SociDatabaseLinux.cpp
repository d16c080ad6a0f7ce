// The unit database on SOCI (Debian's libsoci with its sqlite3 and postgresql backends): the
// kestrel-db.so module that UnitDatabase::Open loads (see UnitDatabaseLinux.cpp). Only plain SQL
// both databases take is used; where they differ (transactions that must take the write lock at
// once on SQLite, advisory locks on PostgreSQL) the Kind says which.

#include <soci/postgresql/soci-postgresql.h>
#include <soci/soci.h>
#include <soci/sqlite3/soci-sqlite3.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <type_traits>
#include <vector>

#include "ledger/DatabaseUrl.h"
#include "ledger/Migrations.h"
#include "ledger/PrintableText.h"
#include "ledger/UnitDatabase.h"
#include "ledger/UnsentRows.h"

namespace {

using Clock = std::chrono::system_clock;
constexpr auto kClaimLifetime = std::chrono::seconds(30);
constexpr auto kHeartbeat = std::chrono::seconds(5);
// How often a station's database object looks for final rows that wait for the database.
constexpr auto kResendEvery = std::chrono::seconds(2);
constexpr int kBusySeconds = 30;  // how long SQLite waits for another writer's transaction
// The advisory lock that serialises schema migrations between processes on PostgreSQL.
constexpr long long kMigrationLock = 0x4b65737472656c00LL;

enum class Kind { Sqlite, Postgres };

std::string UtcText(Clock::time_point when) {
    const std::time_t seconds = Clock::to_time_t(when);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() %
        1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(millis));
    return text;
}

// A database error on one line: libpq's come in several ("...\n\tIs the server running ...").
std::string OneLine(const std::string& text) {
    std::string out;
    bool space = false;
    for (const char c : text) {
        if (c == '\n' || c == '\r' || c == '\t' || c == ' ') {
            space = true;
            continue;
        }
        if (space && !out.empty()) out += ' ';
        space = false;
        out += c;
    }
    // Server messages reach terminals: they may quote what a station named itself.
    return PrintableText(out);
}

// FNV-1a: the 64-bit advisory lock number of a unit key.
long long LockNumber(const std::string& key) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : key) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    return static_cast<long long>(hash);
}

// A text column bound with its NULL indicator.
struct Nullable {
    std::string value;
    soci::indicator ind = soci::i_null;
    Nullable() = default;
    explicit Nullable(const std::optional<std::string>& text)
        : value(text.value_or("")), ind(text ? soci::i_ok : soci::i_null) {}
    std::optional<std::string> Get() const {
        return ind == soci::i_ok ? std::optional<std::string>(value) : std::nullopt;
    }
};

// A run's row in the form SOCI binds by reference.
struct RunBinding {
    std::string run, station, unit, unitKey;
    Nullable serial, port;
    int duplicateSerial = 0;
    Nullable drive, vendor, product, usb;
    std::string file, sha256, type;
    int startBlock = 0, endBlock = 0;
    std::string family, chipId;
    int bootType = 0;
    Nullable versionBefore, startedAt, finishedAt;
    int blocksSent = 0;
    double seconds = 0.0;
    Nullable result, message;
    Nullable lot, person, code, detail;

    RunBinding() = default;
    explicit RunBinding(const RunRow& row)
        : run(row.run),
          station(row.station),
          unit(row.unit),
          unitKey(UnitOf(row).Key()),
          serial(row.serial),
          port(row.port),
          duplicateSerial(row.duplicateSerial ? 1 : 0),
          drive(row.drive),
          vendor(row.vendor),
          product(row.product),
          usb(row.usb),
          file(row.file),
          sha256(row.sha256),
          type(row.type),
          startBlock(static_cast<int>(row.startBlock)),
          endBlock(static_cast<int>(row.endBlock)),
          family(row.family),
          chipId(row.chipId),
          bootType(static_cast<int>(row.bootType)),
          versionBefore(row.versionBefore),
          startedAt(row.startedAt),
          finishedAt(row.finishedAt),
          blocksSent(row.blocksSent),
          seconds(row.seconds),
          result(row.finishedAt ? std::optional<std::string>(row.result) : std::nullopt),
          message(row.finishedAt ? std::optional<std::string>(row.message) : std::nullopt),
          lot(row.lot),
          person(row.person),
          code(row.finishedAt ? std::optional<std::string>(row.code) : std::nullopt),
          detail(row.finishedAt ? std::optional<std::string>(row.detail) : std::nullopt) {}

    RunRow Row() const {
        RunRow row;
        row.run = run;
        row.station = station;
        row.unit = unit;
        row.serial = serial.Get();
        row.port = port.Get();
        row.duplicateSerial = duplicateSerial != 0;
        row.drive = drive.Get();
        row.vendor = vendor.Get();
        row.product = product.Get();
        row.usb = usb.Get();
        row.file = file;
        row.sha256 = sha256;
        row.type = type;
        row.startBlock = static_cast<unsigned>(startBlock);
        row.endBlock = static_cast<unsigned>(endBlock);
        row.family = family;
        row.chipId = chipId;
        row.bootType = static_cast<unsigned>(bootType);
        row.versionBefore = versionBefore.Get();
        row.startedAt = startedAt.Get();
        row.finishedAt = finishedAt.Get();
        row.blocksSent = blocksSent;
        row.seconds = seconds;
        row.result = result.value;
        row.message = message.value;
        row.lot = lot.Get();
        row.person = person.Get();
        row.code = code.Get().value_or("");
        row.detail = detail.Get().value_or("");
        return row;
    }
};

// Every column of a run's row in one order, each with its field in the binding: the insert,
// the update of a final row and both reads are made from this one list, so a column added here
// (with its migration and its field) is written and read everywhere at once.
template <typename Visit>
void EachColumn(RunBinding& b, Visit&& visit) {
    visit("run", b.run);
    visit("station", b.station);
    visit("unit", b.unit);
    visit("unit_key", b.unitKey);
    visit("serial", b.serial);
    visit("port", b.port);
    visit("duplicate_serial", b.duplicateSerial);
    visit("drive", b.drive);
    visit("vendor", b.vendor);
    visit("product", b.product);
    visit("usb", b.usb);
    visit("file", b.file);
    visit("sha256", b.sha256);
    visit("type", b.type);
    visit("start_block", b.startBlock);
    visit("end_block", b.endBlock);
    visit("family", b.family);
    visit("chip_id", b.chipId);
    visit("boot_type", b.bootType);
    visit("version_before", b.versionBefore);
    visit("started_at", b.startedAt);
    visit("finished_at", b.finishedAt);
    visit("blocks_sent", b.blocksSent);
    visit("seconds", b.seconds);
    visit("result", b.result);
    visit("message", b.message);
    visit("lot", b.lot);
    visit("operator_name", b.person);
    visit("result_code", b.code);
    visit("detail", b.detail);
}

// The column names, comma-separated, in EachColumn's order.
std::string RunColumns() {
    RunBinding scratch;
    std::string names;
    EachColumn(scratch, [&names](const char* name, auto&) {
        names += std::string(names.empty() ? "" : ", ") + name;
    });
    return names;
}

int RunColumnCount() {
    RunBinding scratch;
    int count = 0;
    EachColumn(scratch, [&count](const char*, auto&) { ++count; });
    return count;
}

// Binds a field as a statement's input (Bind: soci::use) or output (soci::into), a text
// column with its NULL indicator.
template <typename Statement, typename Field>
void BindField(Statement& st, Field& field, bool in) {
    if constexpr (std::is_same_v<Field, Nullable>) {
        if (in)
            st, soci::use(field.value, field.ind);
        else
            st, soci::into(field.value, field.ind);
    } else {
        if (in)
            st, soci::use(field);
        else
            st, soci::into(field);
    }
}

// Binds every column of the run, in EachColumn's order, as the statement's input.
template <typename Statement>
void UseRun(Statement&& st, RunBinding& b) {
    EachColumn(b, [&st](const char*, auto& field) { BindField(st, field, true); });
}

// Binds every column of the run, in EachColumn's order, as what the statement reads.
template <typename Statement>
void IntoRun(Statement&& st, RunBinding& b) {
    EachColumn(b, [&st](const char*, auto& field) { BindField(st, field, false); });
}

std::string Placeholders(int count) {
    std::string out;
    for (int i = 1; i <= count; ++i) out += (i > 1 ? ", :p" : ":p") + std::to_string(i);
    return out;
}

// Splits a migration file into statements: each ends with ';' at the end of a line.
std::vector<std::string> Statements(const std::string& script) {
    std::vector<std::string> out;
    std::string current;
    std::size_t start = 0;
    while (start < script.size()) {
        std::size_t end = script.find('\n', start);
        if (end == std::string::npos) end = script.size();
        std::string line = script.substr(start, end - start);
        start = end + 1;
        const std::size_t code = line.find_first_not_of(" \t");
        if (code == std::string::npos || line.compare(code, 2, "--") == 0) continue;
        current += line + "\n";
        const std::size_t last = line.find_last_not_of(" \t\r");
        if (last != std::string::npos && line[last] == ';') {
            current.erase(current.find_last_of(';'));
            out.push_back(current);
            current.clear();
        }
    }
    if (current.find_first_not_of(" \t\r\n") != std::string::npos) out.push_back(current);
    return out;
}

void BeginOn(soci::session& sql, Kind kind) {
    sql << (kind == Kind::Sqlite ? "BEGIN IMMEDIATE" : "BEGIN");
}
void RollbackOn(soci::session& sql) {
    try {
        sql << "ROLLBACK";
    } catch (const std::exception&) {
        // The connection is gone; so is the transaction.
    }
}

void TouchStationAndUnit(soci::session& sql, const RunBinding& b, const std::string& now) {
    std::string station = b.station;
    std::string t = now;
    sql << "INSERT INTO stations (name, first_seen, last_seen) VALUES (:n, :f, :l) "
           "ON CONFLICT (name) DO UPDATE SET last_seen = excluded.last_seen",
        soci::use(station), soci::use(t), soci::use(t);
    RunBinding u = b;
    sql << "INSERT INTO units (unit, unit_key, serial, port, first_seen, last_seen) "
           "VALUES (:u, :k, :s, :p, :f, :l) "
           "ON CONFLICT (unit, unit_key) DO UPDATE SET last_seen = excluded.last_seen",
        soci::use(u.unit), soci::use(u.unitKey), soci::use(u.serial.value, u.serial.ind),
        soci::use(u.port.value, u.port.ind), soci::use(t), soci::use(t);
}

// The run's final row (inserted when the run never started) and its claim given up, in one
// transaction on the given connection.
void WriteFinalOn(soci::session& sql, Kind kind, const RunRow& final) {
    RunBinding b(final);
    const std::string now = UtcText(Clock::now());
    BeginOn(sql, kind);
    try {
        TouchStationAndUnit(sql, b, now);
        std::string update;
        // Every column but the run's id and when it started (a final row never moves that).
        EachColumn(b, [&update](const char* column, auto&) {
            const std::string name = column;
            if (name == "run" || name == "started_at") return;
            update += (update.empty() ? "" : ", ") + name + " = excluded." + name;
        });
        update += ", started_at = COALESCE(runs.started_at, excluded.started_at)";
        UseRun(sql << "INSERT INTO runs (" << RunColumns() << ") VALUES ("
                   << Placeholders(RunColumnCount()) << ") ON CONFLICT (run) DO UPDATE SET "
                   << update,
               b);
        std::string run = b.run;
        sql << "DELETE FROM claims WHERE unit_key = :k AND run = :r", soci::use(b.unitKey),
            soci::use(run);
        sql << "COMMIT";
    } catch (...) {
        RollbackOn(sql);
        throw;
    }
}

}  // namespace

struct SociImpl {
    Kind kind = Kind::Sqlite;
    const soci::backend_factory* factory = nullptr;
    std::string connect;
    std::optional<DatabaseUrl> url;
    std::optional<UnsentRows> unsent;  // final rows waiting for the database
    soci::session sql;

    // The claims this connection holds, unit key to run: a station's runs all claim through
    // its one connection. On SQLite one heartbeat keeps them all alive.
    std::map<std::string, std::string> claims;
    std::thread heartbeat;
    std::mutex heartbeatMutex;
    std::condition_variable heartbeatWake;
    bool heartbeatStop = false;

    // A station's object writes the unsent rows on a connection of its own, idle or not.
    std::thread resender;
    std::mutex resendMutex;
    std::condition_variable resendWake;
    bool resendStop = false;

    ~SociImpl() {
        StopHeartbeat();
        StopResending();
    }

    // A database text as messages show it: one line, no password.
    std::string Say(const std::string& text) const { return url->Scrub(OneLine(text)); }

    void Begin() { BeginOn(sql, kind); }
    void Commit() { sql << "COMMIT"; }
    void Rollback() { RollbackOn(sql); }

    // The migrations applied, by number (throws before the first migration made the table).
    std::set<int> Applied() {
        std::set<int> applied;
        int version = 0;
        soci::statement st =
            (sql.prepare << "SELECT version FROM schema_version", soci::into(version));
        st.execute();
        while (st.fetch()) applied.insert(version);
        return applied;
    }
    // Every migration this build knows applied, and none it does not know.
    static bool Current(const std::set<int>& applied) {
        for (const Migration& migration : LedgerMigrations())
            if (!applied.count(migration.version)) return false;
        return applied.empty() || *applied.rbegin() <= LedgerMigrations().back().version;
    }

    void Migrate() {
        // The usual case, a schema already current, needs no lock: a session that holds the
        // migration lock (or is slow to give it up) keeps no station from starting.
        try {
            if (Current(Applied())) return;
        } catch (const std::exception&) {
            // No table yet: the first migration makes it.
        }
        Begin();
        try {
            if (kind == Kind::Postgres)
                sql << "SELECT pg_advisory_xact_lock(" << kMigrationLock << ")";
            sql << "CREATE TABLE IF NOT EXISTS schema_version (version INTEGER PRIMARY KEY, "
                   "applied_at TEXT NOT NULL)";
            const std::set<int> applied = Applied();
            const std::vector<Migration>& migrations = LedgerMigrations();
            const int known = migrations.empty() ? 0 : migrations.back().version;
            if (!applied.empty() && *applied.rbegin() > known)
                throw std::runtime_error(
                    "the database's schema version " + std::to_string(*applied.rbegin()) +
                    " is newer than this kestrel-cli knows (" + std::to_string(known) + ")");
            for (const Migration& migration : migrations) {
                if (applied.count(migration.version)) continue;
                for (const std::string& statement : Statements(migration.sql)) sql << statement;
                int version = migration.version;
                std::string now = UtcText(Clock::now());
                sql << "INSERT INTO schema_version (version, applied_at) VALUES (:v, :t)",
                    soci::use(version), soci::use(now);
            }
            Commit();
        } catch (...) {
            Rollback();
            throw;
        }
    }

    // The policy inside the caller's transaction (or on its own).
    ClaimVerdict Policy(const std::string& unitKey, const std::string& sha256,
                        const UnitPolicy& policy) {
        ClaimVerdict verdict;
        verdict.outcome = ClaimVerdict::Outcome::Claimed;
        std::string key = unitKey;
        std::string sha = sha256;
        if (policy.skipDone) {
            std::string station, finished;
            soci::indicator ind = soci::i_null;
            sql << "SELECT station, finished_at FROM runs WHERE unit_key = :k AND sha256 = :s "
                   "AND result = 'ok' ORDER BY finished_at DESC LIMIT 1",
                soci::into(station), soci::into(finished, ind), soci::use(key), soci::use(sha);
            if (sql.got_data()) {
                verdict.outcome = ClaimVerdict::Outcome::Done;
                verdict.station = station;
                verdict.date = ind == soci::i_ok ? finished.substr(0, 10) : "";
                return verdict;
            }
        }
        if (policy.maxAttempts > 0) {
            long long failures = 0;
            sql << "SELECT COUNT(*) FROM runs WHERE unit_key = :k AND result = 'failed'",
                soci::into(failures), soci::use(key);
            if (failures >= policy.maxAttempts) {
                verdict.outcome = ClaimVerdict::Outcome::HeldBack;
                verdict.failures = static_cast<int>(failures);
            }
        }
        return verdict;
    }

    // PostgreSQL: the lock. SQLite: whether a live claim of another run holds the unit.
    bool TryLock(const std::string& key) {
        long long number = LockNumber(key);
        int got = 0;
        sql << "SELECT CASE WHEN pg_try_advisory_lock(:n) THEN 1 ELSE 0 END", soci::into(got),
            soci::use(number);
        return got == 1;
    }
    void Unlock(const std::string& key) {
        long long number = LockNumber(key);
        int released = 0;
        try {
            sql << "SELECT CASE WHEN pg_advisory_unlock(:n) THEN 1 ELSE 0 END",
                soci::into(released), soci::use(number);
        } catch (const std::exception&) {
            // A lost connection took the lock with it.
        }
    }
    std::optional<std::string> LiveHolder(const std::string& unitKey, const std::string& run) {
        std::string key = unitKey;
        std::string station, holder, expires;
        sql << "SELECT station, run, expires_at FROM claims WHERE unit_key = :k",
            soci::into(station), soci::into(holder), soci::into(expires), soci::use(key);
        if (!sql.got_data()) return std::nullopt;
        if (kind == Kind::Sqlite && (holder == run || expires <= UtcText(Clock::now())))
            return std::nullopt;
        return station;
    }

    // The claim of the run, held from now on (and kept alive on SQLite).
    void Hold(const std::string& key, const std::string& run) {
        std::lock_guard lock(heartbeatMutex);
        claims[key] = run;
        if (kind == Kind::Sqlite && !heartbeat.joinable()) StartHeartbeat();
    }
    // The run's claim given up; whether this connection held it.
    bool Release(const std::string& key, const std::string& run) {
        std::lock_guard lock(heartbeatMutex);
        const auto it = claims.find(key);
        if (it == claims.end() || it->second != run) return false;
        claims.erase(it);
        return true;
    }
    bool Holds(const std::string& key) {
        std::lock_guard lock(heartbeatMutex);
        return claims.count(key) > 0;
    }

    void StartHeartbeat() {
        heartbeatStop = false;
        heartbeat = std::thread([this] {
            std::optional<soci::session> own;
            std::unique_lock lock(heartbeatMutex);
            while (!heartbeatWake.wait_for(lock, kHeartbeat, [this] { return heartbeatStop; })) {
                try {
                    if (!own) own.emplace(*factory, connect);
                    for (const auto& [key, run] : claims) {
                        std::string expires = UtcText(Clock::now() + kClaimLifetime);
                        std::string k = key;
                        std::string r = run;
                        *own << "UPDATE claims SET expires_at = :e WHERE unit_key = :k AND "
                                "run = :r",
                            soci::use(expires), soci::use(k), soci::use(r);
                    }
                } catch (const std::exception&) {
                    own.reset();  // tried again at the next beat
                }
            }
        });
    }
    void StopHeartbeat() {
        if (!heartbeat.joinable()) return;
        {
            std::lock_guard lock(heartbeatMutex);
            heartbeatStop = true;
        }
        heartbeatWake.notify_all();
        heartbeat.join();
    }

    ClaimVerdict ClaimAndStart(const RunRow& started, const UnitPolicy& policy) {
        RunBinding b(started);
        const std::string now = UtcText(Clock::now());
        ClaimVerdict verdict;
        bool locked = false;
        try {
            // Another run of this station holds the unit (a session's advisory locks stack, so
            // the lock alone would not say so).
            if (Holds(b.unitKey)) {
                verdict.outcome = ClaimVerdict::Outcome::Busy;
                verdict.station = b.station;
                return verdict;
            }
            if (kind == Kind::Postgres) {
                locked = TryLock(b.unitKey);
                if (!locked) {
                    verdict.outcome = ClaimVerdict::Outcome::Busy;
                    verdict.station = LiveHolder(b.unitKey, b.run).value_or("another station");
                    return verdict;
                }
            }
            Begin();
            try {
                if (kind == Kind::Sqlite) {
                    if (auto holder = LiveHolder(b.unitKey, b.run)) {
                        Rollback();
                        verdict.outcome = ClaimVerdict::Outcome::Busy;
                        verdict.station = *holder;
                        return verdict;
                    }
                }
                verdict = Policy(b.unitKey, b.sha256, policy);
                if (!verdict.Allowed()) {
                    Rollback();
                    if (locked) Unlock(b.unitKey);
                    return verdict;
                }
                std::string expires = UtcText(Clock::now() + kClaimLifetime);
                std::string claimedAt = now;
                sql << "INSERT INTO claims (unit_key, station, run, claimed_at, expires_at) "
                       "VALUES (:k, :s, :r, :c, :e) ON CONFLICT (unit_key) DO UPDATE SET "
                       "station = excluded.station, run = excluded.run, "
                       "claimed_at = excluded.claimed_at, expires_at = excluded.expires_at",
                    soci::use(b.unitKey), soci::use(b.station), soci::use(b.run),
                    soci::use(claimedAt), soci::use(expires);
                TouchStationAndUnit(sql, b, now);
                UseRun(sql << "INSERT INTO runs (" << RunColumns() << ") VALUES ("
                           << Placeholders(RunColumnCount()) << ")",
                       b);
                Commit();
            } catch (...) {
                Rollback();
                throw;
            }
        } catch (const std::exception& e) {
            if (locked) Unlock(b.unitKey);
            verdict = {};
            verdict.outcome = ClaimVerdict::Outcome::Error;
            verdict.error = Say(e.what());
            return verdict;
        }
        Hold(b.unitKey, b.run);
        return verdict;
    }

    void WriteFinal(const RunRow& final) { WriteFinalOn(sql, kind, final); }

    // Writes the final rows that waited for the database (see UnsentRows::Send).
    void SendUnsent(soci::session& on) {
        unsent->Send([&on, this](const RunRow& row) {
            try {
                WriteFinalOn(on, kind, row);
                return true;
            } catch (const std::exception&) {
                return false;  // kept for the next connection
            }
        });
    }

    // From the first time a station asks this object, the rows kept by its runs (or by any
    // process of this user on this database) are written within kResendEvery of the database
    // answering again, whether units come or not.
    void KeepResending() {
        if (resender.joinable()) return;
        resender = std::thread([this] {
            std::optional<soci::session> own;
            std::unique_lock lock(resendMutex);
            while (!resendWake.wait_for(lock, kResendEvery, [this] { return resendStop; })) {
                if (!unsent->Waiting()) continue;
                try {
                    if (!own) own.emplace(*factory, connect);
                    SendUnsent(*own);
                } catch (const std::exception&) {
                    own.reset();  // tried again at the next round
                }
            }
        });
    }
    void StopResending() {
        if (!resender.joinable()) return;
        {
            std::lock_guard lock(resendMutex);
            resendStop = true;
        }
        resendWake.notify_all();
        resender.join();
    }
};

// The database behind one connection (and the heartbeat's own, on SQLite).
class SociUnitDatabase : public UnitDatabase {
public:
    explicit SociUnitDatabase(std::unique_ptr<SociImpl> impl) : m_impl(std::move(impl)) {}
    ClaimVerdict Check(const std::string& unitKey, const std::string& sha256,
                       const UnitPolicy& policy) override;
    ClaimVerdict ClaimAndStart(const RunRow& started, const UnitPolicy& policy) override;
    bool Finish(const RunRow& final, std::string* note) override;
    bool ReadRuns(RunHistory& history, std::string* error) override;
    bool ReadRunsSince(const std::string& since, std::vector<RunRow>* rows,
                       std::string* error) override;
    bool Ping(std::string* error) override;

private:
    std::unique_ptr<SociImpl> m_impl;
};

// The module's one entry point, looked up by name.
extern "C" __attribute__((visibility("default"))) UnitDatabase* KestrelOpenUnitDatabase(
    const std::string& url, std::string* error) {
    auto impl = std::make_unique<SociImpl>();
    impl->url = DatabaseUrl::Parse(url, error);
    if (!impl->url) return nullptr;
    impl->kind = impl->url->IsSqlite() ? Kind::Sqlite : Kind::Postgres;
    impl->factory =
        impl->kind == Kind::Sqlite ? soci::factory_sqlite3() : soci::factory_postgresql();
    impl->connect = impl->url->Connect(kBusySeconds);
    impl->unsent = UnsentRows::For(url, error);
    if (!impl->unsent) {
        *error = "cannot use the database " + impl->url->Shown() + ": " + *error;
        return nullptr;
    }
    try {
        impl->sql.open(*impl->factory, impl->connect);
        if (impl->kind == Kind::Sqlite) {
            // Readers never wait for the writer, and the children of --all and a station write
            // one after another within the busy timeout.
            std::string mode;
            impl->sql << "PRAGMA journal_mode=WAL", soci::into(mode);
        } else {
            // The server's notices ("already exists, skipping") are not for the person at the
            // station.
            impl->sql << "SET client_min_messages TO WARNING";
        }
        impl->Migrate();
        impl->SendUnsent(impl->sql);
    } catch (const std::exception& e) {
        *error = "cannot use the database " + impl->url->Shown() + ": " + impl->Say(e.what());
        return nullptr;
    }
    return new SociUnitDatabase(std::move(impl));
}

ClaimVerdict SociUnitDatabase::Check(const std::string& unitKey, const std::string& sha256,
                                     const UnitPolicy& policy) {
    m_impl->KeepResending();  // only a station asks before a run
    ClaimVerdict verdict;
    if (m_impl->Holds(unitKey)) {
        verdict.outcome = ClaimVerdict::Outcome::Busy;
        verdict.station = "this station";
        return verdict;
    }
    try {
        if (m_impl->kind == Kind::Postgres) {
            if (!m_impl->TryLock(unitKey)) {
                verdict.outcome = ClaimVerdict::Outcome::Busy;
                verdict.station = m_impl->LiveHolder(unitKey, "").value_or("another station");
                return verdict;
            }
            m_impl->Unlock(unitKey);
        } else if (auto holder = m_impl->LiveHolder(unitKey, "")) {
            verdict.outcome = ClaimVerdict::Outcome::Busy;
            verdict.station = *holder;
            return verdict;
        }
        return m_impl->Policy(unitKey, sha256, policy);
    } catch (const std::exception& e) {
        verdict.outcome = ClaimVerdict::Outcome::Error;
        verdict.error = m_impl->Say(e.what());
        return verdict;
    }
}

ClaimVerdict SociUnitDatabase::ClaimAndStart(const RunRow& started, const UnitPolicy& policy) {
    return m_impl->ClaimAndStart(started, policy);
}

bool SociUnitDatabase::Finish(const RunRow& final, std::string* note) {
    note->clear();
    std::string error;
    const std::string key = UnitOf(final).Key();
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            if (attempt > 0) m_impl->sql.reconnect();
            m_impl->WriteFinal(final);
            if (m_impl->Release(key, final.run) && m_impl->kind == Kind::Postgres && attempt == 0)
                m_impl->Unlock(key);
            return true;
        } catch (const std::exception& e) {
            error = m_impl->Say(e.what());
        }
    }
    m_impl->Release(key, final.run);
    std::string kept;
    if (!m_impl->unsent->Keep(final, &kept)) {
        *note = "the database did not take the final record (" + error +
                ") and it cannot be kept for later: " + kept;
        return false;
    }
    *note = "the database did not take the final record (" + error + "); it waits in " +
            m_impl->unsent->Path() + " and is written when the database answers";
    return true;
}

bool SociUnitDatabase::ReadRuns(RunHistory& history, std::string* error) {
    try {
        RunBinding b;
        auto query =
            (m_impl->sql.prepare << "SELECT " << RunColumns() << " FROM runs ORDER BY run");
        IntoRun(query, b);
        soci::statement st(query);
        st.execute();
        while (st.fetch()) history.Add(b.Row());
        return true;
    } catch (const std::exception& e) {
        *error = m_impl->Say(e.what());
        return false;
    }
}

bool SociUnitDatabase::Ping(std::string* error) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            if (attempt > 0) m_impl->sql.reconnect();
            int one = 0;
            m_impl->sql << "SELECT 1", soci::into(one);
            m_impl->KeepResending();
            m_impl->SendUnsent(m_impl->sql);
            return true;
        } catch (const std::exception& e) {
            *error = m_impl->Say(e.what());
        }
    }
    return false;
}

// The line's page: today's runs, read every second or two while a supervisor watches. It never
// writes (not even the rows that wait for the database: the stations send their own).
bool SociUnitDatabase::ReadRunsSince(const std::string& since, std::vector<RunRow>* rows,
                                     std::string* error) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            if (attempt > 0) m_impl->sql.reconnect();
            rows->clear();
            RunBinding b;
            std::string from = since;
            auto query = (m_impl->sql.prepare
                          << "SELECT " << RunColumns()
                          << " FROM runs WHERE COALESCE(finished_at, started_at) >= :since"
                             " ORDER BY COALESCE(finished_at, started_at), run");
            query, soci::use(from);
            IntoRun(query, b);
            soci::statement st(query);
            st.execute();
            while (st.fetch()) rows->push_back(b.Row());
            return true;
        } catch (const std::exception& e) {
            *error = m_impl->Say(e.what());
        }
    }
    return false;
}

// Shared with the report's queries (ReportDatabaseLinux.cpp).
std::string SociOneLine(const std::string& text) {
    return OneLine(text);
}
