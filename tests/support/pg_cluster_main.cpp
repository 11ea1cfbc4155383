// pg-cluster: a throwaway PostgreSQL cluster for tests that are scripts or
// other programs (pytest, shell), which cannot hold a PgCluster object.
//   pg-cluster start DIR    creates the cluster in DIR (new or empty), starts
//                           it and prints its URL (a libpq key=value string)
//   pg-cluster pause DIR    stops the server, keeping the data
//   pg-cluster resume DIR   starts it again
//   pg-cluster stop DIR     stops it at once and removes DIR
// Run as root, DIR's parent folders must be open to the postgres user.
#include <iostream>
#include <string>

#include "tests/support/pg_cluster.h"

int main(int argc, char** argv) {
    const std::string command = argc == 3 ? argv[1] : "";
    if (command != "start" && command != "stop" && command != "pause" && command != "resume") {
        std::cerr << "usage: pg-cluster start|pause|resume|stop DIR\n";
        return 2;
    }
    PgCluster cluster(argv[2]);
    bool done = true;
    if (command == "stop") {
        cluster.remove();
    } else if (command == "start") {
        done = cluster.start();
        if (done) std::cout << cluster.url() << std::endl;
    } else if (command == "pause") {
        done = cluster.stopServer();
    } else if (command == "resume") {
        done = cluster.startServer();
    }
    // A start that failed removes what it made, and only that.
    if (done) cluster.keep();
    if (!done) std::cerr << "pg-cluster " << command << ": " << cluster.error() << "\n";
    return done ? 0 : 1;
}
