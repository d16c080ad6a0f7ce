-- Stations, units, runs and claims. Plain SQL that SQLite and PostgreSQL both take: text keys,
-- UTC times as ISO 8601 text (they sort as times), flags as 0/1 integers.

CREATE TABLE stations (
    name TEXT PRIMARY KEY,
    first_seen TEXT NOT NULL,
    last_seen TEXT NOT NULL
);

-- A unit as the records name it: "<serial>@<port>". unit_key follows it between stations
-- (the serial, or the station and port where the serial cannot be trusted).
CREATE TABLE units (
    unit TEXT NOT NULL,
    unit_key TEXT NOT NULL,
    serial TEXT,
    port TEXT,
    first_seen TEXT NOT NULL,
    last_seen TEXT NOT NULL,
    PRIMARY KEY (unit, unit_key)
);

-- One row per run: written before the start frame (started_at set, result NULL) and completed
-- when the run ends. A run that ended before a start frame has only the final fields.
CREATE TABLE runs (
    run TEXT PRIMARY KEY,
    station TEXT NOT NULL REFERENCES stations (name),
    unit TEXT NOT NULL,
    unit_key TEXT NOT NULL,
    serial TEXT,
    port TEXT,
    duplicate_serial INTEGER NOT NULL DEFAULT 0,
    drive TEXT,
    vendor TEXT,
    product TEXT,
    usb TEXT,
    file TEXT NOT NULL,
    sha256 TEXT NOT NULL,
    type TEXT NOT NULL,
    start_block INTEGER NOT NULL,
    end_block INTEGER NOT NULL,
    family TEXT NOT NULL,
    chip_id TEXT NOT NULL,
    boot_type INTEGER NOT NULL,
    version_before TEXT,
    started_at TEXT,
    finished_at TEXT,
    blocks_sent INTEGER NOT NULL DEFAULT 0,
    seconds DOUBLE PRECISION NOT NULL DEFAULT 0,
    result TEXT,
    message TEXT
);

CREATE INDEX runs_by_unit_key ON runs (unit_key, result);

-- Who is flashing a unit now. On PostgreSQL the claim itself is a session advisory lock held by
-- the run's connection and this row only names the station; on SQLite the row is the claim and
-- lapses at expires_at unless its holder's heartbeat moves it on.
CREATE TABLE claims (
    unit_key TEXT PRIMARY KEY,
    station TEXT NOT NULL,
    run TEXT NOT NULL,
    claimed_at TEXT NOT NULL,
    expires_at TEXT NOT NULL
);
