#include "postgres.h"

#include "core/config.h"
#include "core/gbk.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <poll.h>

namespace dielmon::sync::detail {

namespace {

using SteadyClock = std::chrono::steady_clock;

// The first line of a message from libpq or the server, without its trailing blanks, and with
// any password of the string hidden.
std::string FirstLine(const std::string& text, const std::string& server) {
    std::string line = text.substr(0, text.find('\n'));
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\t')) {
        line.pop_back();
    }
    return MaskServerSecrets(line, server);
}

bool Has(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

// After a refused login the server's words say why; they are English unless the server
// speaks another language, in which case the operator reads them as they are.
Failure Refusal(const std::string& text) {
    if (Has(text, "database \"") && Has(text, "does not exist")) {
        return Failure::NoDatabase;
    }
    if (Has(text, "password authentication failed") || Has(text, "authentication failed") ||
        Has(text, "no pg_hba.conf entry") || Has(text, "not permitted to log in") ||
        Has(text, "no password supplied") ||
        (Has(text, "role \"") && Has(text, "does not exist"))) {
        return Failure::Authentication;
    }
    if (Has(text, "permission denied")) {
        return Failure::Permission;
    }
    return Failure::Server;
}

int ReadableSeconds(std::chrono::milliseconds d) {
    return static_cast<int>((d.count() + 999) / 1000);
}

} // namespace

std::string Describe(Failure kind, const std::string& detail) {
    const std::string tail = detail.empty() ? "。" : "：" + detail;
    switch (kind) {
    case Failure::None:
        return detail;
    case Failure::NotConfigured:
        return "没有设置档案服务器（Config.ini 的 [Archive] 一节 Server=）。";
    case Failure::BadString:
        return "档案服务器的连接串有误" + tail;
    case Failure::Unreachable:
        return "无法连接档案服务器（地址、端口或网络有误，或服务器没有运行）" + tail;
    case Failure::Authentication:
        return "档案服务器拒绝登录（用户名或密码不对，或服务器不允许这台电脑登录）" + tail;
    case Failure::NoDatabase:
        return "档案服务器上没有这个数据库" + tail;
    case Failure::Permission:
        return "档案服务器不允许这项操作（权限不足，请管理员按 docs/archive-server.md 授权）" +
               tail;
    case Failure::Interrupted:
        return "与档案服务器的连接中断" + tail;
    case Failure::Server:
        return "档案服务器报告错误" + tail;
    case Failure::Refused:
        return "档案服务器拒绝了部分结果" + tail;
    case Failure::Local:
        return "本机的结果档案出错" + tail;
    case Failure::Stopped:
        return "同步已停止。";
    }
    return detail;
}

Params& Params::Text(const std::string& s) {
    Store_.push_back(s);
    Null_.push_back(false);
    Formats_.push_back(0);
    return *this;
}

Params& Params::Null() {
    Store_.emplace_back();
    Null_.push_back(true);
    Formats_.push_back(0);
    return *this;
}

Params& Params::Int(std::optional<std::int64_t> v) {
    return v ? Text(std::to_string(*v)) : Null();
}

Params& Params::Real(std::optional<double> v) {
    return v ? Text(RealText(*v)) : Null();
}

Params& Params::Bytes(const std::string& b) {
    Store_.push_back(b);
    Null_.push_back(false);
    Formats_.push_back(1);
    return *this;
}

const char* const* Params::Values() const {
    Pointers_.clear();
    for (std::size_t k = 0; k < Store_.size(); ++k) {
        Pointers_.push_back(Null_[k] ? nullptr : Store_[k].c_str());
    }
    return Pointers_.data();
}

const int* Params::Lengths() const {
    Lengths_.clear();
    for (const std::string& s : Store_) {
        Lengths_.push_back(static_cast<int>(s.size()));
    }
    return Lengths_.data();
}

std::string RealText(double v) {
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, v).ptr;
    return std::string(buffer, end);
}

std::string Answer::Text(int row, int col) const {
    const char* v = PQgetvalue(R_.get(), row, col);
    return std::string(v, static_cast<std::size_t>(PQgetlength(R_.get(), row, col)));
}

std::optional<std::int64_t> Answer::Int(int row, int col) const {
    if (IsNull(row, col)) {
        return std::nullopt;
    }
    const std::string t = Text(row, col);
    std::int64_t v = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (ec != std::errc() || end != t.data() + t.size()) {
        return std::nullopt;
    }
    return v;
}

std::optional<double> Answer::Real(int row, int col) const {
    if (IsNull(row, col)) {
        return std::nullopt;
    }
    const std::string t = Text(row, col);
    double v = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (ec != std::errc() || end != t.data() + t.size()) {
        return std::nullopt;
    }
    return v;
}

std::string Answer::Bytes(int row, int col) const {
    const std::string t = Text(row, col);
    std::string out;
    if (t.size() < 2 || t[0] != '\\' || t[1] != 'x') {
        return out;
    }
    auto digit = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    out.reserve((t.size() - 2) / 2);
    for (std::size_t k = 2; k + 1 < t.size(); k += 2) {
        out += static_cast<char>(digit(t[k]) * 16 + digit(t[k + 1]));
    }
    return out;
}

std::unique_ptr<Connection> Connection::Open(const std::string& server, const Limits& limits,
                                             int stopFd, Problem& problem) {
    problem = {};
    if (server.empty()) {
        problem.Kind = Failure::NotConfigured;
        problem.Message = Describe(problem.Kind, "");
        return nullptr;
    }
    if (const std::string refused = ServerStringProblem(server); !refused.empty()) {
        problem.Kind = Failure::BadString;
        problem.Message = GbkToUtf8(refused);
        return nullptr;
    }
    std::chrono::milliseconds timeout = limits.Connect;
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(server.c_str(), &error);
    if (options == nullptr) {
        problem.Kind = Failure::BadString;
        problem.Message = Describe(problem.Kind, FirstLine(error != nullptr ? error : "", server));
        PQfreemem(error);
        return nullptr;
    }
    for (PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
        if (std::string(o->keyword) == "connect_timeout" && o->val != nullptr) {
            const int seconds = std::atoi(o->val);
            if (seconds > 0) {
                // libpq's own rule: less than two seconds is two.
                timeout = std::chrono::seconds(seconds < 2 ? 2 : seconds);
            }
        }
    }
    PQconninfoFree(options);

    // The string comes between the program's defaults (which it may override) and what the
    // program needs (which it may not): texts travel as UTF-8.
    const char* const keys[] = {"fallback_application_name", "dbname", "client_encoding", nullptr};
    const char* const values[] = {"dielmon", server.c_str(), "UTF8", nullptr};
    PGconn* c = PQconnectStartParams(keys, values, 1);
    if (c == nullptr) {
        problem.Kind = Failure::Server;
        problem.Message = Describe(problem.Kind, "out of memory");
        return nullptr;
    }
    std::unique_ptr<Connection> conn(new Connection(c, server, limits, stopFd));
    const auto deadline = SteadyClock::now() + timeout;
    bool reached = false;
    PostgresPollingStatusType poll = PGRES_POLLING_WRITING;
    while (PQstatus(c) != CONNECTION_BAD && poll != PGRES_POLLING_OK &&
           poll != PGRES_POLLING_FAILED) {
        if (PQsocket(c) >= 0 && !conn->Wait(poll == PGRES_POLLING_WRITING, deadline, problem)) {
            if (problem.Kind == Failure::Interrupted) {
                // The deadline: nobody answered, or nobody finished the login.
                problem.Kind = Failure::Unreachable;
                problem.Message = Describe(
                    problem.Kind, std::to_string(ReadableSeconds(timeout)) +
                                      (reached ? " 秒内服务器没有完成登录" : " 秒内没有应答"));
            }
            return nullptr;
        }
        poll = PQconnectPoll(c);
        switch (PQstatus(c)) {
        case CONNECTION_STARTED:
        case CONNECTION_MADE:
        case CONNECTION_BAD:
        case CONNECTION_OK:
            break;
        default:
            // The startup message went out over a connection that was taken: a server is
            // there and answering, or refusing.
            reached = true;
        }
    }
    if (PQstatus(c) == CONNECTION_OK) {
        PQsetnonblocking(c, 1);
        return conn;
    }
    const std::string text = PQerrorMessage(c);
    if (PQconnectionNeedsPassword(c) != 0) {
        problem.Kind = Failure::Authentication;
        problem.Message = "档案服务器要求密码，但没有找到：请把密码放在 ~/.pgpass、"
                          "pg_service.conf 或环境变量 PGPASSWORD 中。";
        return nullptr;
    }
    if (Has(text, "definition of service") || Has(text, "service file")) {
        problem.Kind = Failure::BadString;
    } else {
        problem.Kind = reached ? Refusal(text) : Failure::Unreachable;
        if (!reached && Refusal(text) == Failure::Authentication) {
            problem.Kind = Failure::Authentication; // refused before the startup was seen
        }
    }
    problem.Message = Describe(problem.Kind, FirstLine(text, server));
    return nullptr;
}

Connection::~Connection() {
    PQfinish(Conn_);
}

std::string Connection::ServerVersionText() const {
    const int v = ServerVersion();
    return std::to_string(v / 10000) + "." + std::to_string(v % 10000);
}

std::string Connection::Parameter(const char* name) const {
    const char* v = PQparameterStatus(Conn_, name);
    return v != nullptr ? v : "";
}

bool Connection::Wait(bool forWriting, SteadyClock::time_point deadline, Problem& problem) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        if (left.count() <= 0) {
            problem.Kind = Failure::Interrupted;
            problem.Message = Describe(
                problem.Kind, std::to_string(ReadableSeconds(Limits_.Answer)) + " 秒内没有应答");
            return false;
        }
        pollfd fds[2] = {
            {PQsocket(Conn_), static_cast<short>(forWriting ? POLLOUT : POLLIN), 0},
            {StopFd_, POLLIN, 0},
        };
        const int n = ::poll(fds, StopFd_ >= 0 ? 2 : 1,
                             static_cast<int>(std::min<std::int64_t>(left.count(), 1000)));
        if (n < 0 && errno != EINTR) {
            problem.Kind = Failure::Interrupted;
            problem.Message = Describe(problem.Kind, "poll failed");
            return false;
        }
        if (StopFd_ >= 0 && (fds[1].revents & POLLIN) != 0) {
            problem.Kind = Failure::Stopped;
            problem.Message = Describe(problem.Kind, "");
            return false;
        }
        if (n > 0 && fds[0].revents != 0) {
            return true;
        }
    }
}

void Connection::Fail(Problem& problem, const PGresult* r) const {
    const char* state = r != nullptr ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    const char* primary = r != nullptr ? PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    problem.SqlState = state != nullptr ? state : "";
    const std::string text = primary != nullptr ? primary : PQerrorMessage(Conn_);
    if (PQstatus(Conn_) == CONNECTION_BAD || problem.SqlState.rfind("08", 0) == 0 ||
        problem.SqlState.rfind("57P", 0) == 0) {
        problem.Kind = Failure::Interrupted;
    } else if (problem.SqlState == "42501") {
        problem.Kind = Failure::Permission;
    } else {
        problem.Kind = Failure::Server;
    }
    problem.Message = Describe(problem.Kind, FirstLine(text, Server_));
}

std::optional<Answer> Connection::Collect(Problem& problem) {
    const auto deadline = SteadyClock::now() + Limits_.Answer;
    int flushed;
    while ((flushed = PQflush(Conn_)) == 1) {
        if (!Wait(true, deadline, problem)) {
            return std::nullopt;
        }
        // The server may be answering while the statement still goes out.
        if (PQconsumeInput(Conn_) == 0) {
            Fail(problem, nullptr);
            return std::nullopt;
        }
    }
    if (flushed < 0) {
        Fail(problem, nullptr);
        return std::nullopt;
    }
    std::optional<Answer> last;
    bool failed = false;
    for (;;) {
        while (PQisBusy(Conn_) != 0) {
            if (!Wait(false, deadline, problem)) {
                return std::nullopt;
            }
            if (PQconsumeInput(Conn_) == 0) {
                Fail(problem, nullptr);
                return std::nullopt;
            }
        }
        PGresult* r = PQgetResult(Conn_);
        if (r == nullptr) {
            break;
        }
        const ExecStatusType status = PQresultStatus(r);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && !failed) {
            failed = true;
            Fail(problem, r);
        }
        last.emplace(r);
    }
    if (failed) {
        return std::nullopt;
    }
    if (!last) {
        Fail(problem, nullptr);
    }
    return last;
}

bool Connection::Execute(const char* sql, Problem& problem) {
    problem = {};
    if (PQsendQuery(Conn_, sql) == 0) {
        Fail(problem, nullptr);
        return false;
    }
    return Collect(problem).has_value();
}

std::optional<Answer> Connection::Run(const char* sql, const Params& params, Problem& problem) {
    problem = {};
    if (PQsendQueryParams(Conn_, sql, params.Count(), nullptr, params.Values(), params.Lengths(),
                          params.Formats(), 0) == 0) {
        Fail(problem, nullptr);
        return std::nullopt;
    }
    return Collect(problem);
}

bool Connection::Prepare(const char* name, const char* sql, Problem& problem) {
    problem = {};
    if (PQsendPrepare(Conn_, name, sql, 0, nullptr) == 0) {
        Fail(problem, nullptr);
        return false;
    }
    return Collect(problem).has_value();
}

std::optional<Answer> Connection::RunPrepared(const char* name, const Params& params,
                                              Problem& problem) {
    problem = {};
    if (PQsendQueryPrepared(Conn_, name, params.Count(), params.Values(), params.Lengths(),
                            params.Formats(), 0) == 0) {
        Fail(problem, nullptr);
        return std::nullopt;
    }
    return Collect(problem);
}

} // namespace dielmon::sync::detail
