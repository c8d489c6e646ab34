// A PostgreSQL server of a test program's own: initdb into a temporary folder as an
// unprivileged user (the system user "postgres" of Debian's package when the tests run as
// root, since initdb refuses root), listening on a Unix socket in that folder only. It is
// stopped and its folder removed when the object goes; a watchdog process does the same when
// the test program dies without that (a crash, a time-out's kill). Plain C++ and libpq, no
// GoogleTest, so that the measuring programs start their server the same way.
#pragma once

#include <string>
#include <vector>

namespace dielmon::test {

class PostgresServer {
public:
    struct Options {
        // Every commit waits for the disk, as on a lab's server; without it (for tests)
        // nothing does.
        bool Durable = false;
    };

    // The folder of initdb and pg_ctl, /usr/lib/postgresql/<newest>/bin; empty when
    // PostgreSQL is not installed.
    static std::string BinFolder();

    // Made and started; Error() says why not.
    explicit PostgresServer(const Options& options);
    PostgresServer() : PostgresServer(Options{}) {}
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    bool Running() const { return Running_; }
    const std::string& Error() const { return Error_; }
    const std::string& Folder() const { return Folder_; }
    // The libpq connection string of a database as a user (by default the superuser
    // "postgres"), without a password.
    std::string ConnectionString(const std::string& database,
                                 const std::string& user = "postgres") const;

    // The server goes down (fast shutdown: connections are cut) and comes back on the same
    // files and socket. True when done.
    bool Stop();
    bool Start();

    // Runs SQL as the superuser; empty text: done, else the server's error.
    std::string Admin(const std::string& sql, const std::string& database = "postgres") const;
    // The first column of the first row of a query, as text; empty on an error.
    std::string AdminValue(const std::string& sql, const std::string& database = "postgres") const;
    // A fresh UTF8 database "t1", "t2" ... owned by `owner` (the superuser when empty).
    std::string NewDatabase(const std::string& owner = "");

private:
    std::string Run(const std::vector<std::string>& argv) const;

    std::string Bin_;
    std::string Folder_;
    std::string Error_;
    bool Running_ = false;
    bool AsPostgres_ = false;
    int WatchdogPipe_ = -1;
    int Databases_ = 0;
};

// The one server of this test program, started on first use, stopped at its exit.
PostgresServer& SharedPostgres();

// A TCP port on the loopback that takes connections and never says a word: a server that
// hangs. Port() is 0 when none could be had.
class SilentServer {
public:
    SilentServer();
    ~SilentServer();
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;
    int Port() const { return Port_; }
    // A connection string to it ("host=127.0.0.1 port=N dbname=lab user=tester") and `extra`.
    std::string ConnectionString(const std::string& extra = "") const;

private:
    int Fd_ = -1;
    int Port_ = 0;
};

} // namespace dielmon::test
