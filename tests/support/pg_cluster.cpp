#include "tests/support/pg_cluster.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPort = 5432;          // names the socket file; every cluster has its own folder
constexpr int kInitLimitMs = 60000;  // initdb on a busy machine
constexpr int kServerLimitS = 30;    // pg_ctl -t
constexpr int kStopImmediateLimitS = 10;
constexpr std::size_t kSocketPathLimit = 107;  // sockaddr_un's sun_path, less the NUL

// The highest PostgreSQL version's bin folder, or empty.
std::string serverBinFolder() {
    std::string best;
    int bestVersion = -1;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", error)) {
        const std::string name = entry.path().filename().string();
        const int version = std::atoi(name.c_str());
        if (version > bestVersion && fs::exists(entry.path() / "bin" / "initdb")) {
            bestVersion = version;
            best = (entry.path() / "bin").string();
        }
    }
    return best;
}

bool runningAsRoot() { return geteuid() == 0; }

std::string readTail(const std::string& path, std::size_t limit = 2000) {
    std::ifstream file(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    return text.size() > limit ? text.substr(text.size() - limit) : text;
}

// A value for a libpq key=value string, quoted when it needs to be.
std::string connValue(const std::string& value) {
    const bool plain = !value.empty() && value.find_first_of(" \t\n'\\") == std::string::npos;
    if (plain) return value;
    std::string quoted = "'";
    for (char c : value) {
        if (c == '\'' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "'";
}

// Waits for a child, at most `timeoutMs`; SIGTERM then SIGKILL after that.
bool waitForChild(pid_t pid, int timeoutMs, int& status) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            // runuser passes SIGTERM on to the program it runs.
            kill(pid, SIGTERM);
            const auto grace = Clock::now() + std::chrono::seconds(2);
            while (waitpid(pid, &status, WNOHANG) == 0) {
                if (Clock::now() >= grace) {
                    kill(pid, SIGKILL);
                    waitpid(pid, &status, 0);
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace

PgCluster::PgCluster() : bin_(serverBinFolder()), ownsFolder_(true) {
    char pattern[] = "/tmp/quorvel-pg-XXXXXX";
    if (mkdtemp(pattern) != nullptr) {
        folder_ = pattern;
    } else {
        error_ = "cannot create a folder under /tmp";
    }
}

PgCluster::PgCluster(std::string folder)
    : folder_(fs::absolute(folder).lexically_normal().string()), bin_(serverBinFolder()) {
    if (!folder_.empty() && folder_.back() == '/') folder_.pop_back();
}

PgCluster::~PgCluster() {
    if (ownsFolder_ && !keep_) remove();
}

void PgCluster::remove() {
    if (folder_.empty()) return;
    if (isCluster()) {
        run("stop the server",
            {"pg_ctl", "-D", folder_ + "/data", "-w", "-t", std::to_string(kStopImmediateLimitS),
             "-m", "immediate", "stop"},
            (kStopImmediateLimitS + 5) * 1000);
    }
    // A folder someone named is removed only when it holds a cluster.
    if (ownsFolder_ || isCluster()) {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    folder_.clear();
}

bool PgCluster::isCluster() const {
    std::error_code error;
    return !folder_.empty() && fs::exists(folder_ + "/data/PG_VERSION", error);
}

// Runs a PostgreSQL program from the bin folder (as the postgres user when
// root), its output appended to the folder's setup.log.
bool PgCluster::run(const std::string& what, const std::vector<std::string>& arguments,
                    int timeoutMs) {
    std::vector<std::string> words;
    if (runningAsRoot()) words = {"/usr/sbin/runuser", "-u", "postgres", "--"};
    words.push_back(bin_ + "/" + arguments.front());
    words.insert(words.end(), arguments.begin() + 1, arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    const std::string logPath = folder_ + "/setup.log";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logPath.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    // The postgres user may not enter the test's working folder.
    posix_spawn_file_actions_addchdir_np(&actions, folder_.c_str());
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        error_ = "cannot " + what + ": cannot run " + argv[0];
        return false;
    }
    int status = 0;
    const bool ended = waitForChild(pid, timeoutMs, status);
    if (ended && WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
    error_ = "cannot " + what + (ended ? "" : " (timed out)") + "; " + logPath + " ends:\n" +
             readTail(logPath) + "\nserver log ends:\n" + readTail(folder_ + "/server.log");
    return false;
}

bool PgCluster::start() {
    if (folder_.empty()) return false;
    if (bin_.empty()) {
        error_ =
            "no PostgreSQL under /usr/lib/postgresql: install postgresql "
            "(scripts/install-deps.sh)";
        return false;
    }
    if ((folder_ + "/.s.PGSQL." + std::to_string(kPort)).size() > kSocketPathLimit) {
        error_ = "the folder's path is too long for a Unix socket: " + folder_;
        return false;
    }
    std::error_code fsError;
    fs::create_directories(folder_, fsError);
    if (!fs::is_empty(folder_, fsError)) {
        error_ = "the folder is not empty: " + folder_;
        return false;
    }
    ownsFolder_ = true;
    if (runningAsRoot()) {
        const passwd* server = getpwnam("postgres");
        if (server == nullptr || chown(folder_.c_str(), server->pw_uid, server->pw_gid) != 0) {
            error_ = "cannot hand " + folder_ + " to the postgres user";
            return false;
        }
    }
    return run("create the cluster",
               {"initdb", "-D", folder_ + "/data", "-U", "postgres", "-A", "trust", "-E", "UTF8",
                "--locale=C", "--no-sync", "--no-instructions"},
               kInitLimitMs) &&
           writeSettings() && startServer() &&
           run("create the password role",
               {"psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-d", url(), "-c",
                std::string("CREATE ROLE ") + kPasswordRole + " LOGIN PASSWORD '" + kPassword +
                    "'"},
               kServerLimitS * 1000);
}

bool PgCluster::writeSettings() {
    std::ofstream settings(folder_ + "/data/postgresql.conf", std::ios::app);
    settings << "\n# A throwaway test cluster: its own socket folder, no TCP.\n"
             << "listen_addresses = ''\n"
             << "unix_socket_directories = '" << folder_ << "'\n"
             << "port = " << kPort << "\n"
             << "fsync = off\n";
    std::ofstream access(folder_ + "/data/pg_hba.conf", std::ios::trunc);
    access << "local all " << kPasswordRole << " scram-sha-256\n"
           << "local all all trust\n";
    settings.close();
    access.close();
    if (!settings || !access) error_ = "cannot write the cluster's settings in " + folder_;
    return settings && access;
}

bool PgCluster::stopServer() {
    return run("stop the server",
               {"pg_ctl", "-D", folder_ + "/data", "-w", "-t", std::to_string(kServerLimitS), "-m",
                "fast", "stop"},
               (kServerLimitS + 5) * 1000);
}

bool PgCluster::startServer() {
    return run("start the server",
               {"pg_ctl", "-D", folder_ + "/data", "-l", folder_ + "/server.log", "-w", "-t",
                std::to_string(kServerLimitS), "start"},
               (kServerLimitS + 5) * 1000);
}

std::string PgCluster::url() const { return urlFor("postgres", ""); }

std::string PgCluster::urlFor(const std::string& user, const std::string& password) const {
    std::string url = "host=" + connValue(folder_) + " port=" + std::to_string(kPort) +
                      " user=" + connValue(user) + " dbname=postgres";
    if (!password.empty()) url += " password=" + connValue(password);
    return url;
}
