#include "sync/server.h"

#include "postgres.h"
#include "schema.h"

namespace dielmon::sync {

using detail::Connection;
using detail::Params;
using detail::Problem;

Check TestConnection(const std::string& server, const Limits& limits, int stopFd) {
    Check check;
    Problem problem;
    auto failed = [&](Failure kind, const std::string& message) {
        check.Kind = kind;
        check.Message = message;
        return check;
    };
    std::unique_ptr<Connection> c = Connection::Open(server, limits, stopFd, problem);
    if (!c) {
        return failed(problem.Kind, problem.Message);
    }
    check.ServerVersion = c->ServerVersionText();
    if (c->ServerVersion() < 130000) {
        return failed(Failure::Server, "档案服务器的 PostgreSQL 版本是 " + check.ServerVersion +
                                           "，需要 13 或更新的版本。");
    }
    if (const std::string encoding = c->Parameter("server_encoding"); encoding != "UTF8") {
        return failed(Failure::Server, "档案服务器上数据库的编码是 " + encoding +
                                           "，需要 UTF8（建立数据库时写 ENCODING 'UTF8'）。");
    }
    // What the program will do, asked of the server's rights rather than tried.
    auto rights = c->Run("SELECT current_database(), current_user, "
                         "has_database_privilege(current_database(), 'CREATE'), "
                         "n.oid IS NOT NULL, "
                         "n.oid IS NOT NULL AND has_schema_privilege(n.oid, 'USAGE'), "
                         "n.oid IS NOT NULL AND has_schema_privilege(n.oid, 'CREATE'), "
                         "to_regclass('dielmon.version') IS NOT NULL "
                         "FROM (SELECT 1) AS one LEFT JOIN pg_namespace n ON n.nspname = 'dielmon'",
                         problem);
    if (!rights) {
        return failed(problem.Kind, problem.Message);
    }
    const std::string database = rights->Text(0, 0);
    const std::string user = rights->Text(0, 1);
    const bool createInDatabase = rights->Bool(0, 2);
    const bool schema = rights->Bool(0, 3);
    const bool usage = rights->Bool(0, 4);
    const bool createInSchema = rights->Bool(0, 5);
    const bool tables = rights->Bool(0, 6);
    const std::string who = "数据库 " + database + " 的用户 " + user;
    auto denied = [&](const std::string& what) {
        return failed(Failure::Permission, detail::Describe(Failure::Permission, who + " " + what));
    };
    if (!schema && !createInDatabase) {
        return denied("不能建立 dielmon 模式（也还没有人建立它）");
    }
    if (schema && !usage) {
        return denied("不能使用 dielmon 模式");
    }
    std::string state = "第一次同步时建立档案表";
    if (tables) {
        auto version = c->Run("SELECT (SELECT coalesce(max(version), 0) FROM dielmon.version), "
                              // One privilege a call: of several listed, any one would do.
                              "has_table_privilege('dielmon.results', 'SELECT') AND "
                              "has_table_privilege('dielmon.results', 'INSERT') AND "
                              "has_table_privilege('dielmon.results', 'UPDATE') AND "
                              "has_table_privilege('dielmon.quantities', 'SELECT') AND "
                              "has_table_privilege('dielmon.quantities', 'INSERT') AND "
                              "has_table_privilege('dielmon.lab', 'SELECT') AND "
                              "has_sequence_privilege('dielmon.changes', 'USAGE')",
                              problem);
        if (!version) {
            return failed(problem.Kind, problem.Message);
        }
        const std::int64_t v = version->Int(0, 0).value_or(0);
        const int mine = detail::ServerSchemaVersion();
        if (v > mine) {
            return failed(Failure::Server, "档案服务器上的表由更新版本的程序建立（版本 " +
                                               std::to_string(v) + "，本程序只认识到版本 " +
                                               std::to_string(mine) + "）：请升级本程序。");
        }
        if (!version->Bool(0, 1)) {
            return denied("不能读写 dielmon 模式里的档案表");
        }
        if (v < mine && !createInSchema) {
            return denied("不能升级 dielmon 模式里的档案表");
        }
        state = v < mine ? "同步时升级档案表" : "档案表已建立";
    } else if (schema && !createInSchema) {
        return denied("不能在 dielmon 模式里建立档案表");
    }
    check.Message =
        "连接正常：PostgreSQL " + check.ServerVersion + "，" + who + "；" + state + "。";
    return check;
}

std::string LibpqVersion() {
    const int v = PQlibVersion();
    return std::to_string(v / 10000) + "." + std::to_string(v % 10000);
}

} // namespace dielmon::sync
