#include "support/postgres.h"

#include <libpq-fe.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace dielmon::test {

namespace fs = std::filesystem;

namespace {

constexpr int kPort = 5432;

// Runs a program to its end; its standard output and error, or "exit status N: output".
std::string Spawn(const std::vector<std::string>& argv, bool& ok) {
    int out[2] = {-1, -1};
    ok = false;
    if (::pipe2(out, O_CLOEXEC) != 0) {
        return "no pipe";
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
    std::vector<std::string> args = argv;
    std::vector<char*> raw;
    for (std::string& a : args) {
        raw.push_back(a.data());
    }
    raw.push_back(nullptr);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, raw[0], &actions, nullptr, raw.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(out[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
        if (n > 0) {
            text.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(out[0]);
    if (rc != 0) {
        return "cannot run " + argv[0] + ": " + std::strerror(rc);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return ok ? text : argv[0] + " failed: " + text;
}

} // namespace

std::string PostgresServer::BinFolder() {
    std::vector<fs::path> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec)) {
        if (fs::exists(entry.path() / "bin" / "initdb", ec) &&
            fs::exists(entry.path() / "bin" / "pg_ctl", ec)) {
            found.push_back(entry.path() / "bin");
        }
    }
    if (found.empty()) {
        return {};
    }
    std::sort(found.begin(), found.end(), [](const fs::path& a, const fs::path& b) {
        return std::atoi(a.parent_path().filename().c_str()) <
               std::atoi(b.parent_path().filename().c_str());
    });
    return found.back().string();
}

std::string PostgresServer::Run(const std::vector<std::string>& argv) const {
    std::vector<std::string> all;
    if (AsPostgres_) {
        all = {"runuser", "-u", "postgres", "--"};
    }
    all.insert(all.end(), argv.begin(), argv.end());
    bool ok = false;
    const std::string text = Spawn(all, ok);
    return ok ? std::string() : text;
}

PostgresServer::PostgresServer(const Options& options) {
    Bin_ = BinFolder();
    if (Bin_.empty()) {
        Error_ = "PostgreSQL is not installed (no /usr/lib/postgresql/*/bin/initdb)";
        return;
    }
    // Short: the socket's path must fit in 107 bytes.
    char pattern[] = "/tmp/dielmon-pg-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        Error_ = std::string("no temporary folder: ") + std::strerror(errno);
        return;
    }
    Folder_ = pattern;
    AsPostgres_ = ::geteuid() == 0;
    if (AsPostgres_) {
        const passwd* pw = ::getpwnam("postgres");
        if (pw == nullptr || ::chown(Folder_.c_str(), pw->pw_uid, pw->pw_gid) != 0) {
            Error_ = "running as root, and there is no system user postgres to run the server";
            return;
        }
    }

    // The watchdog: a process of its own, outside the test program's tree so that a kill
    // of that tree leaves it, waiting for the end of a pipe only this program holds.
    int watch[2] = {-1, -1};
    if (::pipe2(watch, O_CLOEXEC) == 0) {
        const std::string pgctl = Bin_ + "/pg_ctl";
        const std::string runner = AsPostgres_ ? "runuser -u postgres -- " : "";
        const std::string script = "( cat <&3 >/dev/null; " + runner +
                                   "\"$1\" -D \"$2/data\" -m immediate stop; rm -rf \"$2\" ) "
                                   ">/dev/null 2>&1 3<&3 &";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, watch[0], 3);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        std::vector<std::string> args = {"/bin/sh", "-c", script, "sh", pgctl, Folder_};
        std::vector<char*> raw;
        for (std::string& a : args) {
            raw.push_back(a.data());
        }
        raw.push_back(nullptr);
        pid_t pid = -1;
        if (::posix_spawn(&pid, "/bin/sh", &actions, nullptr, raw.data(), environ) == 0) {
            ::waitpid(pid, nullptr, 0);
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(watch[0]);
        WatchdogPipe_ = watch[1];
    }

    const std::string data = Folder_ + "/data";
    std::string error = Run({Bin_ + "/initdb", "-D", data, "-U", "postgres", "-A", "trust", "-E",
                             "UTF8", "--locale=C", "--no-sync"});
    if (!error.empty()) {
        Error_ = error;
        return;
    }
    {
        std::ofstream conf(data + "/postgresql.conf", std::ios::app);
        conf << "\nlisten_addresses = ''\nunix_socket_directories = '" << Folder_
             << "'\nport = " << kPort << "\nshared_buffers = 16MB\nmax_connections = 60\n";
        if (!options.Durable) {
            conf << "fsync = off\nsynchronous_commit = off\nfull_page_writes = off\n";
        }
        // Members of password_login log in with a password, everyone else without.
        std::ofstream hba(data + "/pg_hba.conf", std::ios::trunc);
        hba << "local all +password_login scram-sha-256\nlocal all all trust\n";
        if (!conf || !hba) {
            Error_ = "cannot write the server's configuration in " + data;
            return;
        }
    }
    if (!Start()) {
        return;
    }
    error = Admin("CREATE ROLE password_login NOLOGIN");
    if (!error.empty()) {
        Error_ = error;
        Running_ = false;
    }
}

PostgresServer::~PostgresServer() {
    if (Running_) {
        Stop();
    }
    if (!Folder_.empty()) {
        std::error_code ignored;
        fs::remove_all(Folder_, ignored);
    }
    if (WatchdogPipe_ >= 0) {
        ::close(WatchdogPipe_);
    }
}

bool PostgresServer::Start() {
    const std::string error = Run({Bin_ + "/pg_ctl", "-D", Folder_ + "/data", "-l",
                                   Folder_ + "/server.log", "-w", "-t", "60", "start"});
    if (!error.empty()) {
        std::ifstream log(Folder_ + "/server.log");
        std::string tail((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
        Error_ = error + tail;
        return false;
    }
    Running_ = true;
    return true;
}

bool PostgresServer::Stop() {
    const std::string error =
        Run({Bin_ + "/pg_ctl", "-D", Folder_ + "/data", "-m", "fast", "-w", "-t", "60", "stop"});
    if (!error.empty()) {
        Error_ = error;
        return false;
    }
    Running_ = false;
    return true;
}

std::string PostgresServer::ConnectionString(const std::string& database,
                                             const std::string& user) const {
    return "host=" + Folder_ + " port=" + std::to_string(kPort) + " dbname=" + database +
           " user=" + user;
}

std::string PostgresServer::Admin(const std::string& sql, const std::string& database) const {
    PGconn* c = PQconnectdb(ConnectionString(database).c_str());
    std::string error;
    if (PQstatus(c) != CONNECTION_OK) {
        error = PQerrorMessage(c);
    } else {
        PGresult* r = PQexec(c, sql.c_str());
        const ExecStatusType s = PQresultStatus(r);
        if (s != PGRES_COMMAND_OK && s != PGRES_TUPLES_OK) {
            error = PQerrorMessage(c);
            if (error.empty()) {
                error = "failed";
            }
        }
        PQclear(r);
    }
    PQfinish(c);
    return error;
}

std::string PostgresServer::AdminValue(const std::string& sql, const std::string& database) const {
    PGconn* c = PQconnectdb(ConnectionString(database).c_str());
    std::string value;
    if (PQstatus(c) == CONNECTION_OK) {
        PGresult* r = PQexec(c, sql.c_str());
        if (PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) > 0) {
            value = PQgetvalue(r, 0, 0);
        }
        PQclear(r);
    }
    PQfinish(c);
    return value;
}

std::string PostgresServer::NewDatabase(const std::string& owner) {
    std::string name = "t";
    name += std::to_string(++Databases_);
    const std::string error =
        Admin("CREATE DATABASE " + name + " ENCODING 'UTF8' TEMPLATE template0" +
              (owner.empty() ? "" : " OWNER " + owner));
    return error.empty() ? name : std::string();
}

PostgresServer& SharedPostgres() {
    static PostgresServer server;
    return server;
}

SilentServer::SilentServer() {
    Fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    if (Fd_ >= 0 && ::bind(Fd_, reinterpret_cast<sockaddr*>(&a), size) == 0 &&
        ::listen(Fd_, 64) == 0 && ::getsockname(Fd_, reinterpret_cast<sockaddr*>(&a), &size) == 0) {
        Port_ = ntohs(a.sin_port);
    }
}

SilentServer::~SilentServer() {
    if (Fd_ >= 0) {
        ::close(Fd_);
    }
}

std::string SilentServer::ConnectionString(const std::string& extra) const {
    std::string s = "host=127.0.0.1 port=";
    s += std::to_string(Port_);
    s += " dbname=lab user=tester";
    if (!extra.empty()) {
        s += ' ';
        s += extra;
    }
    return s;
}

} // namespace dielmon::test
