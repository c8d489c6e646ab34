// The few pieces of libpq the synchronisation uses, owned: a connection whose every wait on the
// network ends on a deadline or when a stop descriptor becomes readable, statements with bound
// parameters (text, or bytes sent as binary), and their answers. Internal.
#pragma once

#include "sync/server.h"

#include <libpq-fe.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace dielmon::sync::detail {

// Why a connection or a statement failed: the kind, a Chinese message, and the server's
// SQLSTATE when it gave one.
struct Problem {
    Failure Kind = Failure::None;
    std::string Message;
    std::string SqlState;
    bool Happened() const { return Kind != Failure::None; }
};

// The parameters of one statement, $1 on.
class Params {
public:
    Params& Text(const std::string& s);
    Params& Null();
    Params& Int(std::optional<std::int64_t> v);
    Params& Real(std::optional<double> v);
    // Sent as binary: bytes of any value, zero bytes included.
    Params& Bytes(const std::string& b);

    int Count() const { return static_cast<int>(Store_.size()); }
    const char* const* Values() const;
    const int* Lengths() const;
    const int* Formats() const { return Formats_.data(); }

private:
    std::vector<std::string> Store_;
    std::vector<bool> Null_;
    std::vector<int> Formats_;
    mutable std::vector<const char*> Pointers_;
    mutable std::vector<int> Lengths_;
};

// A statement's answer in text form.
class Answer {
public:
    explicit Answer(PGresult* r) : R_(r, &PQclear) {}
    int Rows() const { return PQntuples(R_.get()); }
    bool IsNull(int row, int col) const { return PQgetisnull(R_.get(), row, col) != 0; }
    std::string Text(int row, int col) const;
    std::optional<std::int64_t> Int(int row, int col) const;
    std::optional<double> Real(int row, int col) const;
    bool Bool(int row, int col) const { return Text(row, col) == "t"; }
    // A bytea column (hexadecimal in the text form) as its bytes.
    std::string Bytes(int row, int col) const;

private:
    std::unique_ptr<PGresult, void (*)(PGresult*)> R_;
};

// The shortest text that reads back as the same double.
std::string RealText(double v);

class Connection {
public:
    // Connects; nothing, and the problem, when it cannot. The string's connect_timeout, or
    // else limits.Connect, bounds the whole attempt.
    static std::unique_ptr<Connection> Open(const std::string& server, const Limits& limits,
                                            int stopFd, Problem& problem);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Runs fixed SQL of one or more statements without parameters (the schema's steps).
    bool Execute(const char* sql, Problem& problem);
    // Runs one statement and waits for its answer; nothing, and the problem, when it fails.
    std::optional<Answer> Run(const char* sql, const Params& params, Problem& problem);
    std::optional<Answer> Run(const char* sql, Problem& problem) {
        return Run(sql, Params{}, problem);
    }
    bool Prepare(const char* name, const char* sql, Problem& problem);
    std::optional<Answer> RunPrepared(const char* name, const Params& params, Problem& problem);

    int ServerVersion() const { return PQserverVersion(Conn_); }
    std::string ServerVersionText() const;
    std::string Parameter(const char* name) const;

private:
    Connection(PGconn* c, std::string server, const Limits& limits, int stopFd)
        : Conn_(c), Server_(std::move(server)), Limits_(limits), StopFd_(stopFd) {}
    std::optional<Answer> Collect(Problem& problem);
    // Waits until the socket is ready; false, with the problem, on the deadline or a stop.
    bool Wait(bool forWriting, std::chrono::steady_clock::time_point deadline, Problem& problem);
    void Fail(Problem& problem, const PGresult* r) const;

    PGconn* Conn_;
    std::string Server_;
    Limits Limits_;
    int StopFd_;
};

// The message of a failure kind, with the details the server or libpq gave (masked).
std::string Describe(Failure kind, const std::string& detail);

} // namespace dielmon::sync::detail
