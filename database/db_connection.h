// A connection to PostgreSQL through libpq, the PostgreSQL client library.
// libpq is loaded when the first connection is made (libpq.so.5, libpq.dll),
// so that the programs run without it until a database is asked for. Every
// wait (connecting, a statement) ends within the connection's time-out.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

enum class DbFailure {
    None,
    NoLibrary,    // libpq cannot be loaded: `message` says where to get it
    BadUrl,       // the connection string or URI does not parse
    Unreachable,  // no connection: host, port, password, database (libpq's text)
    TimedOut,     // connecting or a statement took longer than the time-out
    Lost,         // the connection broke (the server restarted): reconnect
    Refused,      // the server ran the statement and refused it (`sqlState` says why)
};

struct DbOutcome {
    DbFailure failure = DbFailure::None;
    std::string sqlState;  // Refused: "23505", "42P01", ...
    std::string message;   // one line, never with a password
    bool ok() const { return failure == DbFailure::None; }
};

// A statement's parameter: text in PostgreSQL's input form, or NULL.
using DbValue = std::optional<std::string>;

// A statement's rows, each value in PostgreSQL's text form, NULL as none.
struct DbRows {
    std::vector<std::string> columns;
    std::vector<std::vector<DbValue>> rows;
};

struct DbSettings {
    std::string url;                  // a libpq connection string or URI
    std::uint32_t timeoutMs = 10000;  // for connecting and for each statement
    std::string applicationName = "quorvel";
};

// One connection, used by one thread at a time.
class DbConnection {
  public:
    explicit DbConnection(DbSettings settings);
    ~DbConnection();
    DbConnection(const DbConnection&) = delete;
    DbConnection& operator=(const DbConnection&) = delete;

    // Connects unless connected. The server's statement_timeout is set to the
    // time-out too, so that a statement it cannot finish is ended there.
    DbOutcome connect();
    bool connected() const;
    // Runs one statement with $1, $2, ... as parameters (connecting first
    // when needed). A connection that broke or timed out is closed, so that
    // the next call starts afresh.
    DbOutcome run(const std::string& sql, const std::vector<DbValue>& parameters = {},
                  DbRows* rows = nullptr);
    void close();

    const DbSettings& settings() const { return settings_; }

  private:
    struct Native;
    DbSettings settings_;
    std::unique_ptr<Native> native_;
};

// The URL for messages: its password, if it holds one, as "***".
std::string maskedDbUrl(const std::string& url);

// Whether the URL parses as a libpq connection string or URI, by libpq's own
// parser: BadUrl with its text, or NoLibrary when libpq cannot be loaded.
DbOutcome checkDbUrl(const std::string& url);
