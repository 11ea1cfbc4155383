// A throwaway PostgreSQL cluster for tests, from Debian's postgresql package
// (the highest version under /usr/lib/postgresql): its own folder, its data,
// and a server that listens on a Unix socket in that folder only, so that
// several clusters run side by side and the system's own is never touched.
// Run as root (as CI does), the server runs as the postgres user.
//
// Every role but quorvel_pw logs in without a password; quorvel_pw needs
// kPassword (scram-sha-256), for tests of a wrong password.
#pragma once

#include <string>
#include <vector>

class PgCluster {
  public:
    static constexpr const char* kPasswordRole = "quorvel_pw";
    static constexpr const char* kPassword = "quorvel-secret-7";

    // A cluster in a new folder under /tmp, removed by the destructor.
    PgCluster();
    // A cluster in `folder` (for the pg-cluster command): start() creates it,
    // the other calls find it there.
    explicit PgCluster(std::string folder);
    // remove() for a temporary folder or one that start() created, unless
    // keep() was called; a cluster that was found is left alone.
    ~PgCluster();
    PgCluster(const PgCluster&) = delete;
    PgCluster& operator=(const PgCluster&) = delete;

    // Creates the cluster (initdb), the quorvel_pw role and starts the
    // server; false with error() saying why.
    bool start();
    // Stops the server (it ends its connections) and starts it again on the
    // same data, for outage tests.
    bool stopServer();
    bool startServer();
    // Leaves the server running and the folder in place after destruction.
    void keep() { keep_ = true; }
    // Stops the server at once (pg_ctl -m immediate) and removes the folder
    // if it holds a cluster (or was made here).
    void remove();

    // libpq key=value strings: as postgres (no password), or as `user`.
    std::string url() const;
    std::string urlFor(const std::string& user, const std::string& password) const;

    const std::string& folder() const { return folder_; }
    const std::string& error() const { return error_; }

  private:
    bool run(const std::string& what, const std::vector<std::string>& arguments, int timeoutMs);
    bool writeSettings();
    bool isCluster() const;

    std::string folder_;
    std::string bin_;  // the PostgreSQL programs' folder
    std::string error_;
    bool ownsFolder_ = false;
    bool keep_ = false;
};
