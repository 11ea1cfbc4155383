// DbConnection over libpq's asynchronous calls: every wait is on the
// connection's socket with the time that is left, so that neither connecting
// nor a statement outlasts the time-out, whatever the server or the network do.
#include "database/db_connection.h"

#include <algorithm>
#include <chrono>
#include <climits>

#include "database/db_url.h"
#include "database/pq_library.h"
#include "database/socket_wait.h"

namespace {

using Clock = std::chrono::steady_clock;

class Deadline {
  public:
    explicit Deadline(std::uint32_t ms) : end_(Clock::now() + std::chrono::milliseconds(ms)) {}
    std::uint32_t leftMs() const {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end_ - Clock::now()).count();
        return static_cast<std::uint32_t>(std::max<long long>(left, 0));
    }

  private:
    Clock::time_point end_;
};

DbOutcome outcomeOf(DbFailure failure, std::string message, std::string sqlState = {}) {
    DbOutcome outcome;
    outcome.failure = failure;
    outcome.message = std::move(message);
    outcome.sqlState = std::move(sqlState);
    return outcome;
}

// libpq's texts end in a newline and sometimes say more on further lines.
std::string firstLine(const char* text) {
    std::string line = text != nullptr ? text : "";
    line = line.substr(0, line.find('\n'));
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!line.empty() && isSpace(line.back())) line.pop_back();
    std::size_t start = 0;
    while (start < line.size() && isSpace(line[start])) ++start;
    return line.substr(start);
}

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

DbOutcome timedOut(std::uint32_t timeoutMs, const char* what) {
    return outcomeOf(DbFailure::TimedOut,
                     std::string(what) + " took longer than " + std::to_string(timeoutMs) + " ms");
}

}  // namespace

// The connection's state and the steps of a statement, kept here so that the
// header shows nothing of libpq.
struct DbConnection::Native {
    const PqLibrary* pq = nullptr;
    PGconn* connection = nullptr;
    std::vector<std::string> passwords;  // hidden from every message

    std::string clean(const std::string& text) const { return withoutPasswords(text, passwords); }
    std::string libpqError() const { return clean(firstLine(pq->errorMessage(connection))); }

    void close() {
        if (connection == nullptr) return;
        pq->finish(connection);
        connection = nullptr;
    }

    DbOutcome open(const DbSettings& settings);
    // Runs a statement within `deadline`; `timeoutMs` is the time-out to report.
    DbOutcome execute(const std::string& sql, const std::vector<DbValue>& parameters, DbRows* rows,
                      const Deadline& deadline, std::uint32_t timeoutMs);

  private:
    DbOutcome finishConnecting(const Deadline& deadline, std::uint32_t timeoutMs);
    DbOutcome sendAll(const Deadline& deadline, std::uint32_t timeoutMs);
    DbOutcome readResults(DbRows* rows, const Deadline& deadline, std::uint32_t timeoutMs);
    DbOutcome waitToRead(const Deadline& deadline, std::uint32_t timeoutMs);
    DbOutcome outcomeOfError(const PGresult* result);
    DbOutcome lost();
    DbOutcome statementTimedOut(std::uint32_t timeoutMs);
};

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

DbOutcome DbConnection::Native::execute(const std::string& sql,
                                        const std::vector<DbValue>& parameters, DbRows* rows,
                                        const Deadline& deadline, std::uint32_t timeoutMs) {
    std::vector<const char*> values;
    for (const DbValue& parameter : parameters) {
        values.push_back(parameter ? parameter->c_str() : nullptr);
    }
    // libpq refuses more than 65535 parameters itself, with a message.
    const int count = static_cast<int>(std::min<std::size_t>(parameters.size(), INT_MAX));
    if (!pq->sendQueryParams(connection, sql.c_str(), count, nullptr, values.data(), nullptr,
                             nullptr, 0)) {
        if (pq->status(connection) != CONNECTION_OK) return lost();
        return outcomeOf(DbFailure::Refused, libpqError());
    }
    DbOutcome outcome = sendAll(deadline, timeoutMs);
    if (outcome.ok()) outcome = readResults(rows, deadline, timeoutMs);
    return outcome;
}

DbOutcome DbConnection::Native::sendAll(const Deadline& deadline, std::uint32_t timeoutMs) {
    // While the statement goes out the server may answer (a notice, an
    // error): read that too, or both sides could wait on full buffers.
    for (;;) {
        const int flushed = pq->flush(connection);
        if (flushed == 0) return DbOutcome();
        if (flushed < 0) return lost();
        const SocketWait wait =
            waitForSocket(pq->socket(connection), true, true, deadline.leftMs());
        if (wait == SocketWait::TimedOut) return statementTimedOut(timeoutMs);
        if (wait == SocketWait::Failed || !pq->consumeInput(connection)) return lost();
    }
}

DbOutcome DbConnection::Native::waitToRead(const Deadline& deadline, std::uint32_t timeoutMs) {
    while (pq->isBusy(connection)) {
        const SocketWait wait =
            waitForSocket(pq->socket(connection), true, false, deadline.leftMs());
        if (wait == SocketWait::TimedOut) return statementTimedOut(timeoutMs);
        if (wait == SocketWait::Failed || !pq->consumeInput(connection)) return lost();
    }
    return DbOutcome();
}

namespace {

void appendRows(const PqLibrary& pq, const PGresult* result, DbRows& rows) {
    const int columns = pq.columnCount(result);
    if (rows.columns.empty()) {
        for (int column = 0; column < columns; ++column) {
            rows.columns.push_back(pq.columnName(result, column));
        }
    }
    for (int row = 0; row < pq.rowCount(result); ++row) {
        std::vector<DbValue> values;
        for (int column = 0; column < columns; ++column) {
            if (pq.isNull(result, row, column)) {
                values.push_back(std::nullopt);
            } else {
                values.push_back(
                    std::string(pq.value(result, row, column),
                                static_cast<std::size_t>(pq.valueLength(result, row, column))));
            }
        }
        rows.rows.push_back(std::move(values));
    }
}

}  // namespace

DbOutcome DbConnection::Native::readResults(DbRows* rows, const Deadline& deadline,
                                            std::uint32_t timeoutMs) {
    // One statement gives one result; PQgetResult's null ends it. Every
    // result is read, so that the connection is ready for the next statement.
    DbOutcome outcome;
    for (;;) {
        const DbOutcome waited = waitToRead(deadline, timeoutMs);
        if (!waited.ok()) return waited;
        PGresult* result = pq->getResult(connection);
        if (result == nullptr) break;
        const ExecStatusType status = pq->resultStatus(result);
        if (status == PGRES_COPY_IN || status == PGRES_COPY_OUT || status == PGRES_COPY_BOTH) {
            // libpq would wait for copy data forever: start afresh instead.
            pq->clear(result);
            close();
            return outcomeOf(DbFailure::Refused, "COPY statements are not supported here");
        }
        if (status == PGRES_TUPLES_OK || status == PGRES_COMMAND_OK) {
            if (rows != nullptr && outcome.ok()) appendRows(*pq, result, *rows);
        } else if (status != PGRES_EMPTY_QUERY && outcome.ok()) {
            outcome = outcomeOfError(result);
        }
        pq->clear(result);
    }
    if (pq->status(connection) != CONNECTION_OK) return lost();
    if (outcome.failure == DbFailure::Lost) close();
    if (!outcome.ok() && rows != nullptr) *rows = DbRows();
    return outcome;
}

DbOutcome DbConnection::Native::outcomeOfError(const PGresult* result) {
    const char* state = pq->resultErrorField(result, PG_DIAG_SQLSTATE);
    const std::string sqlState = state != nullptr ? state : "";
    const char* primary = pq->resultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
    std::string message =
        clean(firstLine(primary != nullptr ? primary : pq->resultErrorMessage(result)));
    if (message.empty()) message = "the database refused the statement";
    // 57014: statement_timeout ended it. 57P01, 57P02, 57P03: the server is
    // shutting down, restarting after a crash, or not accepting connections.
    if (sqlState == "57014") return outcomeOf(DbFailure::TimedOut, message, sqlState);
    if (sqlState == "57P01" || sqlState == "57P02" || sqlState == "57P03") {
        return outcomeOf(DbFailure::Lost, message, sqlState);
    }
    return outcomeOf(DbFailure::Refused, message, sqlState);
}

DbOutcome DbConnection::Native::lost() {
    DbOutcome outcome = outcomeOf(DbFailure::Lost, libpqError());
    if (outcome.message.empty()) outcome.message = "the database connection broke";
    close();
    return outcome;
}

// The statement may still be on its way or running: only a new connection is
// known to be in a clean state.
DbOutcome DbConnection::Native::statementTimedOut(std::uint32_t timeoutMs) {
    close();
    return timedOut(timeoutMs, "the database statement");
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
