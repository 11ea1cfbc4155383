// The steps of one statement over libpq's asynchronous calls: send it,
// flush it while reading what the server says meanwhile, and read every
// result, each wait on the socket bounded by the statement's deadline.
#include <algorithm>
#include <climits>

#include "database/db_native.h"
#include "database/socket_wait.h"

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
