#include "station/line_schema.h"

namespace {

// Version N's statements, each ended by ";" and a line end, applied in one
// transaction.
const char* const kMigrations[] = {
    // 1: records, one column per key of a record line; pools and leases.
    R"sql(
CREATE SCHEMA IF NOT EXISTS quorvel;
CREATE TABLE quorvel.schema_version (
    version integer PRIMARY KEY,
    applied_at timestamptz NOT NULL DEFAULT now());
CREATE TABLE quorvel.records (
    event text NOT NULL CHECK (event IN ('start', 'result')),
    time timestamptz NOT NULL,
    station text NOT NULL,
    port text NOT NULL,
    unit bigint NOT NULL,
    attempt bigint NOT NULL,
    serial numeric(20, 0),
    device text,
    usb_id text,
    serial_number text,
    ok boolean,
    code integer,
    os_error integer,
    message text,
    device_before json,
    device_after json,
    bytes bigint,
    seconds double precision,
    bytes_per_second double precision,
    status integer,
    detail text,
    image_path text,
    image_sha256 text,
    image_file_sha256 text,
    image_bytes bigint,
    reason text,
    received_at timestamptz NOT NULL DEFAULT clock_timestamp(),
    PRIMARY KEY (station, unit, attempt, event));
CREATE INDEX records_time ON quorvel.records (time);
CREATE INDEX records_serial ON quorvel.records (serial) WHERE serial IS NOT NULL;
CREATE TABLE quorvel.serial_pools (
    name text PRIMARY KEY,
    next_serial numeric(20, 0) NOT NULL CHECK (next_serial >= 0),
    last_serial numeric(20, 0) NOT NULL CHECK (last_serial >= 0),
    created_at timestamptz NOT NULL DEFAULT now());
CREATE TABLE quorvel.serial_leases (
    pool text NOT NULL REFERENCES quorvel.serial_pools (name),
    serial numeric(20, 0) NOT NULL,
    station text NOT NULL,
    state text NOT NULL DEFAULT 'leased' CHECK (state IN ('leased', 'used', 'void')),
    leased_at timestamptz NOT NULL DEFAULT now(),
    settled_at timestamptz,
    PRIMARY KEY (pool, serial));
CREATE INDEX serial_leases_open ON quorvel.serial_leases (station) WHERE state = 'leased';
)sql",
};

constexpr int kKnownVersions = static_cast<int>(sizeof kMigrations / sizeof kMigrations[0]);
static_assert(kKnownVersions == kLineSchemaVersion, "one migration per version");

// Serialises `db init`s of several machines: the first applies, the others
// find it done.
constexpr const char* kMigrationLock = "SELECT pg_advisory_xact_lock(hashtext('quorvel.schema'))";

SchemaCheck failedCheck(const DbOutcome& outcome) {
    SchemaCheck check;
    check.outcome = outcome;
    return check;
}

// One statement per run: a statement with parameters cannot hold several.
bool applyVersion(DbConnection& db, int version, DbOutcome& outcome) {
    const std::string migration = kMigrations[version - 1];
    for (std::size_t start = 0, end; (end = migration.find(";\n", start)) != std::string::npos;
         start = end + 2) {
        outcome = db.run(migration.substr(start, end - start));
        if (!outcome.ok()) return false;
    }
    outcome = db.run("INSERT INTO quorvel.schema_version (version) VALUES ($1)",
                     {std::to_string(version)});
    return outcome.ok();
}

}  // namespace

std::string SchemaCheck::message() const {
    switch (state) {
        case SchemaState::Ready:
            return "";
        case SchemaState::Missing:
            return version == 0
                       ? "the database has no quorvel schema: run quorvel-cli db init"
                       : "the database's quorvel schema is version " + std::to_string(version) +
                             ", older than this program's " + std::to_string(kLineSchemaVersion) +
                             ": run quorvel-cli db init";
        case SchemaState::Newer:
            return "the database's quorvel schema is version " + std::to_string(version) +
                   ", newer than this program knows (" + std::to_string(kLineSchemaVersion) +
                   "): use a newer quorvel-cli";
        case SchemaState::Unusable:
            break;
    }
    return outcome.message;
}

SchemaCheck checkLineSchema(DbConnection& db) {
    DbRows rows;
    DbOutcome outcome =
        db.run("SELECT CASE WHEN to_regclass('quorvel.schema_version') IS NULL THEN -1 ELSE 0 END",
               {}, &rows);
    if (!outcome.ok()) return failedCheck(outcome);
    SchemaCheck check;
    if (rows.rows.at(0).at(0) == std::string("-1")) {
        check.state = SchemaState::Missing;
        return check;
    }
    outcome = db.run("SELECT coalesce(max(version), 0) FROM quorvel.schema_version", {}, &rows);
    if (!outcome.ok()) return failedCheck(outcome);
    check.version = std::stoi(rows.rows.at(0).at(0).value_or("0"));
    check.state = check.version == kLineSchemaVersion  ? SchemaState::Ready
                  : check.version > kLineSchemaVersion ? SchemaState::Newer
                                                       : SchemaState::Missing;
    return check;
}

SchemaCheck migrateLineSchema(DbConnection& db) {
    for (;;) {
        SchemaCheck check = checkLineSchema(db);
        if (check.state != SchemaState::Missing) return check;
        DbOutcome outcome = db.run("BEGIN");
        if (outcome.ok()) outcome = db.run(kMigrationLock);
        // Looked at again under the lock: another machine may have applied it.
        if (outcome.ok()) check = checkLineSchema(db);
        if (outcome.ok() && check.state == SchemaState::Missing &&
            applyVersion(db, check.version + 1, outcome)) {
            outcome = db.run("COMMIT");
            if (outcome.ok()) continue;
        }
        db.run("ROLLBACK");
        if (!outcome.ok()) return failedCheck(outcome);
        if (check.state != SchemaState::Missing) return check;
    }
}
