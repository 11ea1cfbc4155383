// DbConnection's state over libpq, shared by its two files: connecting
// (db_connection.cpp) and running a statement (db_statement.cpp). Kept out
// of db_connection.h, so that its users see nothing of libpq.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "database/db_connection.h"
#include "database/db_url.h"
#include "database/pq_library.h"

// The end of a wait that began with the connection's time-out.
class Deadline {
  public:
    using Clock = std::chrono::steady_clock;

    explicit Deadline(std::uint32_t ms) : end_(Clock::now() + std::chrono::milliseconds(ms)) {}
    std::uint32_t leftMs() const {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end_ - Clock::now()).count();
        return static_cast<std::uint32_t>(std::max<long long>(left, 0));
    }

  private:
    Clock::time_point end_;
};

DbOutcome outcomeOf(DbFailure failure, std::string message, std::string sqlState = {});
DbOutcome timedOut(std::uint32_t timeoutMs, const char* what);
// libpq's texts end in a newline and sometimes say more on further lines: the first, trimmed.
std::string firstLine(const char* text);

// The connection's state and the steps of connecting and of a statement.
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
