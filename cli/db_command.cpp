// quorvel-cli db: the line's database made ready (init), and its serial-number
// pools made, extended and shown (pool).
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "station/line_schema.h"
#include "station/serial_pool.h"

namespace {

using Json = nlohmann::ordered_json;

int failed(const DatabaseOptions& db, const DbOutcome& outcome) {
    if (outcome.failure == DbFailure::NoLibrary) {
        std::fprintf(stderr, "quorvel-cli: %s\n", outcome.message.c_str());
        return kExitDatabase;
    }
    std::fprintf(stderr, "quorvel-cli: the database %s cannot be used: %s\n",
                 maskedDbUrl(db.url).c_str(), outcome.message.c_str());
    return outcome.failure == DbFailure::BadUrl ? kExitUsage : kExitDatabase;
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
    if (check.state == SchemaState::Ready) return kExitSuccess;
    if (check.state == SchemaState::Unusable) return failed(options, check.outcome);
    std::fprintf(stderr, "quorvel-cli: %s\n", check.message().c_str());
    return kExitDatabase;
}

void printPool(const std::string& name, const PoolFacts& facts, bool json) {
    if (json) {
        const Json document = {{"pool", name},           {"next", facts.next},
                               {"last", facts.last},     {"remaining", facts.remaining()},
                               {"leased", facts.leased}, {"used", facts.used},
                               {"void", facts.voided}};
        std::printf("%s\n", document.dump(2, ' ', false, Json::error_handler_t::replace).c_str());
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

}  // namespace

int runDbInitCommand(const DatabaseOptions& options) {
    DbConnection db(settingsOf(options));
    const SchemaCheck check = migrateLineSchema(db);
    if (check.state == SchemaState::Unusable) return failed(options, check.outcome);
    if (check.state != SchemaState::Ready) {
        std::fprintf(stderr, "quorvel-cli: %s\n", check.message().c_str());
        return kExitDatabase;
    }
    std::printf("database %s: quorvel schema version %d ready\n", maskedDbUrl(options.url).c_str(),
                check.version);
    return kExitSuccess;
}

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
            return kExitUsage;
        }
        return failed(options.db, outcome);
    }
    if (!facts.exists) {
        std::fprintf(stderr, "quorvel-cli: no pool %s (--next N --last M makes it)\n",
                     options.name.c_str());
        return kExitDatabase;
    }
    printPool(options.name, facts, options.json);
    return kExitSuccess;
}
