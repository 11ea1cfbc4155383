// quorvel-cli db: the line's database made ready (init), and its serial-number
// pools made, extended and shown (pool).
#include <cstdio>
#include <memory>

#include "cli/command_line.h"
#include "cli/json_output.h"
#include "flashing/status.h"
#include "station/line_schema.h"
#include "station/serial_pool.h"

namespace {

struct PoolOptions {
    std::string name;
    DatabaseOptions db;
    std::optional<std::uint64_t> next;  // with last: makes the pool
    std::optional<std::uint64_t> last;  // moves the pool's end
    bool json = false;
};

int failed(const DatabaseOptions& db, const DbOutcome& outcome) {
    if (outcome.failure == DbFailure::NoLibrary) {
        std::fprintf(stderr, "quorvel-cli: %s\n", outcome.message.c_str());
        return kStatusDatabase;
    }
    std::fprintf(stderr, "quorvel-cli: the database %s cannot be used: %s\n",
                 maskedDbUrl(db.url).c_str(), outcome.message.c_str());
    return outcome.failure == DbFailure::BadUrl ? kStatusWrongRequest : kStatusDatabase;
}

DbSettings settingsOf(const DatabaseOptions& db) {
    DbSettings settings;
    settings.url = db.url;
    settings.timeoutMs = db.timeoutMs();
    return settings;
}

// 0 once the schema is the one this program knows.
int requireSchema(const DatabaseOptions& options, DbConnection& db) {
    const SchemaCheck check = checkLineSchema(db);
    if (check.state == SchemaState::Ready) return kStatusOk;
    if (check.state == SchemaState::Unusable) return failed(options, check.outcome);
    std::fprintf(stderr, "quorvel-cli: %s\n", check.message().c_str());
    return kStatusDatabase;
}

void printPool(const std::string& name, const PoolFacts& facts, bool json) {
    if (json) {
        printJson({{"pool", name},
                   {"next", facts.next},
                   {"last", facts.last},
                   {"remaining", facts.remaining()},
                   {"leased", facts.leased},
                   {"used", facts.used},
                   {"void", facts.voided}});
        return;
    }
    std::printf("pool %s: next %llu, last %llu, %llu left; %llu leased, %llu used, %llu void\n",
                name.c_str(), static_cast<unsigned long long>(facts.next),
                static_cast<unsigned long long>(facts.last),
                static_cast<unsigned long long>(facts.remaining()),
                static_cast<unsigned long long>(facts.leased),
                static_cast<unsigned long long>(facts.used),
                static_cast<unsigned long long>(facts.voided));
}

// quorvel-cli db init: the line's schema made or brought up to date.
int runDbInitCommand(const DatabaseOptions& options) {
    DbConnection db(settingsOf(options));
    const SchemaCheck check = migrateLineSchema(db);
    if (check.state == SchemaState::Unusable) return failed(options, check.outcome);
    if (check.state != SchemaState::Ready) {
        std::fprintf(stderr, "quorvel-cli: %s\n", check.message().c_str());
        return kStatusDatabase;
    }
    std::printf("database %s: quorvel schema version %d ready\n", maskedDbUrl(options.url).c_str(),
                check.version);
    return kStatusOk;
}

// quorvel-cli db pool: a serial-number pool made, its end moved, or shown.
int runDbPoolCommand(const PoolOptions& options) {
    DbConnection db(settingsOf(options.db));
    if (const int status = requireSchema(options.db, db)) return status;
    PoolFacts facts;
    DbOutcome outcome;
    const bool change = options.next || options.last;
    if (change ? !changeSerialPool(db, options.name, options.next, options.last, facts, outcome)
               : !(outcome = readSerialPool(db, options.name, facts)).ok()) {
        // The pool's own rules are the command line's mistakes; the rest the database's.
        if (outcome.failure == DbFailure::Refused && outcome.sqlState.empty()) {
            std::fprintf(stderr, "quorvel-cli: %s\n", outcome.message.c_str());
            return kStatusWrongRequest;
        }
        return failed(options.db, outcome);
    }
    if (!facts.exists) {
        std::fprintf(stderr, "quorvel-cli: no pool %s (--next N --last M makes it)\n",
                     options.name.c_str());
        return kStatusDatabase;
    }
    printPool(options.name, facts, options.json);
    return kStatusOk;
}

}  // namespace

Subcommand addDbCommand(CLI::App& app) {
    auto initDb = std::make_shared<DatabaseOptions>();
    auto pool = std::make_shared<PoolOptions>();
    CLI::App* db = app.add_subcommand("db", "Make the line's database ready, and its serial pools");
    db->require_subcommand(1);
    CLI::App* init =
        db->add_subcommand("init", "Create the quorvel schema, or bring it up to date");
    addDatabaseOptions(*init, *initDb)->required();
    CLI::App* poolCommand = db->add_subcommand(
        "pool", "Make a serial-number pool (--next and --last), move its end, or show it");
    poolCommand->add_option("NAME", pool->name, "The pool's name: one per product or lot")
        ->required();
    addDatabaseOptions(*poolCommand, pool->db)->required();
    poolCommand->add_option("--next", pool->next, "The pool's first number, when it is made");
    poolCommand->add_option("--last", pool->last, "The pool's last number");
    poolCommand->add_flag("--json", pool->json, "Print one JSON document");
    return {db, [init, initDb, pool](CommandSignals&) {
                return init->parsed() ? runDbInitCommand(*initDb) : runDbPoolCommand(*pool);
            }};
}
