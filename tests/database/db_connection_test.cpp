// DbConnection against throwaway PostgreSQL clusters and against sockets that
// refuse or never answer: what each failure is reported as, that every wait
// ends at the time-out, and that the next call after a failure starts afresh.
#include "database/db_connection.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "tests/support/pg_cluster.h"

namespace {

using Clock = std::chrono::steady_clock;

long long millisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A TCP socket on 127.0.0.1 that listens (the kernel completes connections
// but nothing ever answers) or, closed, a port that refuses.
class LocalSocket {
  public:
    explicit LocalSocket(bool listening) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        bind(fd_, reinterpret_cast<sockaddr*>(&address), length);
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        if (listening) {
            listen(fd_, 4);
        } else {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~LocalSocket() {
        if (fd_ >= 0) ::close(fd_);
    }
    std::string url() const {
        return "host=127.0.0.1 port=" + std::to_string(port_) + " user=u dbname=d";
    }

  private:
    int fd_ = -1;
    int port_ = 0;
};

DbSettings settingsFor(const std::string& url, std::uint32_t timeoutMs = 10000) {
    DbSettings settings;
    settings.url = url;
    settings.timeoutMs = timeoutMs;
    settings.applicationName = "quorvel-test";
    return settings;
}

}  // namespace

TEST(DbConnection, UrlThatDoesNotParseIsBadUrlWithoutItsPassword) {
    const std::string url = "host=db password='unclosed-secret";
    DbConnection connection(settingsFor(url));
    const DbOutcome outcome = connection.connect();
    EXPECT_EQ(outcome.failure, DbFailure::BadUrl);
    EXPECT_EQ(outcome.message.find("unclosed-secret"), std::string::npos) << outcome.message;
    EXPECT_EQ(checkDbUrl(url).failure, DbFailure::BadUrl);
    EXPECT_EQ(checkDbUrl("postgresql://[::1/db").failure, DbFailure::BadUrl);
    EXPECT_EQ(checkDbUrl("host=db nosuchoption=1").failure, DbFailure::BadUrl);
    EXPECT_TRUE(checkDbUrl("postgresql://user:pw@db.example:5433/quorvel").ok());
    EXPECT_TRUE(checkDbUrl("host=db port=5433 password='it\\'s'").ok());
}

TEST(DbConnection, RefusedPortIsUnreachableAtOnce) {
    const LocalSocket closed(false);
    DbConnection connection(settingsFor(closed.url(), 10000));
    const auto start = Clock::now();
    const DbOutcome outcome = connection.connect();
    EXPECT_EQ(outcome.failure, DbFailure::Unreachable) << outcome.message;
    EXPECT_NE(outcome.message.find("refused"), std::string::npos) << outcome.message;
    EXPECT_EQ(outcome.message.find('\n'), std::string::npos);
    EXPECT_LT(millisecondsSince(start), 2000);
    EXPECT_FALSE(connection.connected());
}

TEST(DbConnection, ServerThatNeverAnswersTimesOutAtTheTimeOut) {
    const LocalSocket silent(true);
    DbConnection connection(settingsFor(silent.url(), 1000));
    const auto start = Clock::now();
    const DbOutcome outcome = connection.run("SELECT 1");
    const long long elapsed = millisecondsSince(start);
    EXPECT_EQ(outcome.failure, DbFailure::TimedOut) << outcome.message;
    EXPECT_GE(elapsed, 950);
    EXPECT_LT(elapsed, 2500);
    EXPECT_FALSE(connection.connected());
}

TEST(DbConnection, RunsStatementsWithParametersAndReadsRows) {
    PgCluster cluster;
    ASSERT_TRUE(cluster.start()) << cluster.error();
    DbConnection connection(settingsFor(cluster.url(), 7000));
    ASSERT_TRUE(connection.run("CREATE TABLE unit (serial text PRIMARY KEY, note text)").ok());
    ASSERT_TRUE(connection
                    .run("INSERT INTO unit VALUES ($1, $2), ($3, $4)",
                         {"QV-1", std::string("it's \"quoted\""), "QV-2", std::nullopt})
                    .ok());

    DbRows rows;
    DbOutcome outcome = connection.run("SELECT serial, note FROM unit ORDER BY serial", {}, &rows);
    ASSERT_TRUE(outcome.ok()) << outcome.message;
    EXPECT_EQ(rows.columns, (std::vector<std::string>{"serial", "note"}));
    ASSERT_EQ(rows.rows.size(), 2u);
    EXPECT_EQ(rows.rows[0], (std::vector<DbValue>{"QV-1", std::string("it's \"quoted\"")}));
    EXPECT_EQ(rows.rows[1], (std::vector<DbValue>{"QV-2", std::nullopt}));

    // The server refuses; the connection stays and the rows are emptied.
    outcome = connection.run("INSERT INTO unit VALUES ($1, NULL)", {"QV-1"}, &rows);
    EXPECT_EQ(outcome.failure, DbFailure::Refused);
    EXPECT_EQ(outcome.sqlState, "23505");
    EXPECT_NE(outcome.message.find("duplicate key"), std::string::npos) << outcome.message;
    EXPECT_TRUE(rows.rows.empty());
    EXPECT_EQ(connection.run("SELECT * FROM missing").sqlState, "42P01");
    EXPECT_TRUE(connection.connected());

    // What the connection set up: its name and the server's own time-out.
    outcome = connection.run(
        "SELECT current_setting('application_name'), current_setting('statement_timeout')", {},
        &rows);
    ASSERT_TRUE(outcome.ok()) << outcome.message;
    EXPECT_EQ(rows.rows.at(0), (std::vector<DbValue>{"quorvel-test", "7s"}));
}

TEST(DbConnection, WrongPasswordIsUnreachableAndNotShown) {
    PgCluster cluster;
    ASSERT_TRUE(cluster.start()) << cluster.error();
    DbConnection wrong(settingsFor(cluster.urlFor(PgCluster::kPasswordRole, "wrong-pw-5150")));
    const DbOutcome outcome = wrong.connect();
    EXPECT_EQ(outcome.failure, DbFailure::Unreachable);
    EXPECT_NE(outcome.message.find("password authentication failed"), std::string::npos)
        << outcome.message;
    EXPECT_EQ(outcome.message.find("wrong-pw-5150"), std::string::npos);

    DbConnection right(settingsFor(cluster.urlFor(PgCluster::kPasswordRole, PgCluster::kPassword)));
    EXPECT_TRUE(right.connect().ok());
}

TEST(DbConnection, StatementPastTheTimeOutEndsThereAndTheNextOneRuns) {
    PgCluster cluster;
    ASSERT_TRUE(cluster.start()) << cluster.error();
    DbConnection connection(settingsFor(cluster.url(), 1000));
    ASSERT_TRUE(connection.connect().ok());
    const auto start = Clock::now();
    const DbOutcome outcome = connection.run("SELECT pg_sleep(5)");
    const long long elapsed = millisecondsSince(start);
    EXPECT_EQ(outcome.failure, DbFailure::TimedOut) << outcome.message;
    EXPECT_GE(elapsed, 950);
    EXPECT_LT(elapsed, 2500);
    DbRows rows;
    ASSERT_TRUE(connection.run("SELECT 41 + 1", {}, &rows).ok());
    EXPECT_EQ(rows.rows.at(0).at(0), DbValue("42"));
}

TEST(DbConnection, RestartedServerIsLostThenTheNextRunReconnects) {
    PgCluster cluster;
    ASSERT_TRUE(cluster.start()) << cluster.error();
    DbConnection connection(settingsFor(cluster.url(), 5000));
    ASSERT_TRUE(connection.run("SELECT 1").ok());

    ASSERT_TRUE(cluster.stopServer()) << cluster.error();
    DbOutcome outcome = connection.run("SELECT 1");
    EXPECT_EQ(outcome.failure, DbFailure::Lost) << outcome.message;
    EXPECT_FALSE(connection.connected());
    outcome = connection.run("SELECT 1");
    EXPECT_EQ(outcome.failure, DbFailure::Unreachable) << outcome.message;

    ASSERT_TRUE(cluster.startServer()) << cluster.error();
    outcome = connection.run("SELECT 1");
    EXPECT_TRUE(outcome.ok()) << outcome.message;
}
