// The schema a line of stations keeps in PostgreSQL, in the schema `quorvel`:
// the records, the serial-number pools and their leases, and the schema's
// version. `db init` creates it or brings it up to date; a station checks it
// before it starts.
#pragma once

#include <string>

#include "database/db_connection.h"

// The newest version this program knows.
constexpr int kLineSchemaVersion = 1;

enum class SchemaState {
    Ready,     // the version this program knows
    Missing,   // no schema yet (or an older one): `db init` makes it
    Newer,     // made by a newer program: refused
    Unusable,  // the database cannot be asked (`outcome` says why)
};

struct SchemaCheck {
    SchemaState state = SchemaState::Unusable;
    int version = 0;  // the database's, when it has one
    DbOutcome outcome;
    // What it means for the user, for every state but Ready.
    std::string message() const;
};

SchemaCheck checkLineSchema(DbConnection& db);

// Creates the schema, or applies the versions the database lacks, each in a
// transaction of its own; stations and other `db init`s may run meanwhile.
// Returns the check after it: Ready, or why not.
SchemaCheck migrateLineSchema(DbConnection& db);
