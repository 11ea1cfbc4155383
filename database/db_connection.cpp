// DbConnection over libpq's asynchronous calls: every wait is on the
// connection's socket with the time that is left, so that neither connecting
// nor a statement outlasts the time-out, whatever the server or the network do.
// Connecting is here, a statement's steps in db_statement.cpp.
#include "database/db_connection.h"

#include <algorithm>
#include <climits>

#include "database/db_native.h"
#include "database/socket_wait.h"

DbOutcome outcomeOf(DbFailure failure, std::string message, std::string sqlState) {
    DbOutcome outcome;
    outcome.failure = failure;
    outcome.message = std::move(message);
    outcome.sqlState = std::move(sqlState);
    return outcome;
}

DbOutcome timedOut(std::uint32_t timeoutMs, const char* what) {
    return outcomeOf(DbFailure::TimedOut,
                     std::string(what) + " took longer than " + std::to_string(timeoutMs) + " ms");
}

std::string firstLine(const char* text) {
    std::string line = text != nullptr ? text : "";
    line = line.substr(0, line.find('\n'));
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!line.empty() && isSpace(line.back())) line.pop_back();
    std::size_t start = 0;
    while (start < line.size() && isSpace(line[start])) ++start;
    return line.substr(start);
}

namespace {

// Parses `url` with libpq's own parser: BadUrl with its text, or success with
// the password it holds (if any) added to `passwords`.
DbOutcome parseDbUrl(const PqLibrary& pq, const std::string& url,
                     std::vector<std::string>& passwords) {
    passwords = passwordsInDbUrl(url);
    char* error = nullptr;
    PQconninfoOption* options = pq.conninfoParse(url.c_str(), &error);
    if (options == nullptr) {
        const std::string text = error != nullptr ? firstLine(error) : "out of memory";
        if (error != nullptr) pq.freeMemory(error);
        return outcomeOf(DbFailure::BadUrl,
                         "the database URL does not parse: " + withoutPasswords(text, passwords));
    }
    for (const PQconninfoOption* option = options; option->keyword != nullptr; ++option) {
        const std::string keyword = option->keyword;
        if ((keyword == "password" || keyword == "sslpassword") && option->val != nullptr &&
            *option->val != '\0') {
            passwords.push_back(option->val);
        }
    }
    pq.conninfoFree(options);
    return DbOutcome();
}

}  // namespace

DbOutcome DbConnection::Native::open(const DbSettings& settings) {
    DbOutcome outcome = parseDbUrl(*pq, settings.url, passwords);
    if (!outcome.ok()) return outcome;
    const Deadline deadline(settings.timeoutMs);
    // The application name comes first so that one in the URL itself wins.
    const char* keywords[] = {"application_name", "dbname", nullptr};
    const char* values[] = {settings.applicationName.c_str(), settings.url.c_str(), nullptr};
    const int skipName = settings.applicationName.empty() ? 1 : 0;
    connection = pq->connectStartParams(keywords + skipName, values + skipName, 1);
    if (connection == nullptr) {
        return outcomeOf(DbFailure::Unreachable, "out of memory for a database connection");
    }
    outcome = finishConnecting(deadline, settings.timeoutMs);
    if (outcome.ok() && pq->setNonblocking(connection, 1) != 0) {
        outcome = outcomeOf(DbFailure::Unreachable, libpqError());
    }
    if (!outcome.ok()) {
        close();
        return outcome;
    }
    // The server ends a statement it cannot finish in time, also one whose
    // client has given up and gone.
    const std::uint32_t serverLimit = std::min<std::uint32_t>(settings.timeoutMs, INT_MAX);
    outcome = execute("SELECT set_config('statement_timeout', $1, false)",
                      {std::to_string(serverLimit)}, nullptr, deadline, settings.timeoutMs);
    if (!outcome.ok()) close();
    return outcome;
}

// Drives PQconnectPoll, waiting on the socket in the direction it asks for.
DbOutcome DbConnection::Native::finishConnecting(const Deadline& deadline,
                                                 std::uint32_t timeoutMs) {
    // Right after PQconnectStartParams, libpq wants the socket writable.
    PostgresPollingStatusType state = PGRES_POLLING_WRITING;
    for (;;) {
        if (state == PGRES_POLLING_OK) return DbOutcome();
        if (state == PGRES_POLLING_FAILED) return outcomeOf(DbFailure::Unreachable, libpqError());
        // The socket changes when libpq moves on to the next address.
        const int socket = pq->socket(connection);
        if (socket < 0) return outcomeOf(DbFailure::Unreachable, libpqError());
        const bool forRead = state == PGRES_POLLING_READING;
        switch (waitForSocket(socket, forRead, !forRead, deadline.leftMs())) {
            case SocketWait::TimedOut:
                return timedOut(timeoutMs, "connecting to the database");
            case SocketWait::Failed:
                return outcomeOf(DbFailure::Unreachable, "waiting on the database's socket failed");
            case SocketWait::Ready:
                break;
        }
        state = pq->connectPoll(connection);
    }
}

DbConnection::DbConnection(DbSettings settings)
    : settings_(std::move(settings)), native_(std::make_unique<Native>()) {}

DbConnection::~DbConnection() { close(); }

bool DbConnection::connected() const {
    return native_->connection != nullptr &&
           native_->pq->status(native_->connection) == CONNECTION_OK;
}

void DbConnection::close() { native_->close(); }

DbOutcome DbConnection::connect() {
    if (connected()) return DbOutcome();
    close();  // a connection that broke
    if (native_->pq == nullptr) {
        std::string error;
        native_->pq = pqLibrary(error);
        if (native_->pq == nullptr) return outcomeOf(DbFailure::NoLibrary, error);
    }
    return native_->open(settings_);
}

DbOutcome DbConnection::run(const std::string& sql, const std::vector<DbValue>& parameters,
                            DbRows* rows) {
    if (rows != nullptr) *rows = DbRows();
    const DbOutcome outcome = connect();
    if (!outcome.ok()) return outcome;
    const Deadline deadline(settings_.timeoutMs);
    return native_->execute(sql, parameters, rows, deadline, settings_.timeoutMs);
}

DbOutcome checkDbUrl(const std::string& url) {
    std::string error;
    const PqLibrary* pq = pqLibrary(error);
    if (pq == nullptr) return outcomeOf(DbFailure::NoLibrary, error);
    std::vector<std::string> passwords;
    return parseDbUrl(*pq, url, passwords);
}
