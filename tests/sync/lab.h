// The lab synchronisation's tests: a PostgreSQL server of the test program's own, a fresh
// database for each test, and laptops, each an archive of its own in a temporary folder.
#pragma once

#include "results.h"

#include "support/postgres.h"
#include "support/tempdir.h"

#include "sync/engine.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace dielmon::sync::test {

using archive::test::OpenOk;
using dielmon::test::PostgresServer;
using dielmon::test::SharedPostgres;
using dielmon::test::TempDir;

// Skips a test only where PostgreSQL is not installed at all; a server that does not start
// where it is installed fails it.
class Lab : public ::testing::Test {
protected:
    void SetUp() override {
        if (PostgresServer::BinFolder().empty()) {
            GTEST_SKIP() << "PostgreSQL is not installed (no /usr/lib/postgresql/*/bin/initdb): "
                            "scripts/install-deps.sh installs it";
        }
        ASSERT_TRUE(Server().Running()) << Server().Error();
        Database = Server().NewDatabase();
        ASSERT_FALSE(Database.empty());
    }
    static PostgresServer& Server() { return SharedPostgres(); }
    std::string ConnectionString(const std::string& user = "postgres") const {
        return Server().ConnectionString(Database, user);
    }
    // A value the database gives, read as the superuser.
    std::string Value(const std::string& sql) const { return Server().AdminValue(sql, Database); }
    long long Number(const std::string& sql) const { return std::stoll("0" + Value(sql)); }

    std::string Database;
};

// One laptop: its archive in a folder of its own.
struct Laptop {
    explicit Laptop(const archive::OpenOptions& o = {})
        : Store(OpenOk(Folder.File(archive::kArchiveFileName), o)) {}
    SyncReport Sync(const std::string& server, SyncOptions o = {}) {
        return SyncEngine(*Store, server, std::move(o)).Run();
    }
    std::int64_t Count() { return Store->Count({}).Value; }
    std::string Path() const { return Folder.File(archive::kArchiveFileName); }

    TempDir Folder;
    std::unique_ptr<archive::Archive> Store;
};

} // namespace dielmon::sync::test
