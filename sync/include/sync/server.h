// The lab's archive server as the program sees it: a PostgreSQL database that every laptop
// synchronises its result archive with when it can reach it. The connection string is libpq's
// own (Config.ini, [Archive] Server); credentials come the PostgreSQL way (~/.pgpass,
// pg_service.conf, PGPASSWORD). Uses libpq, the archive and the core; no Qt.
//
// Texts: every message here is Chinese in UTF-8, for the operator; a password the string might
// hold never shows in one.
#pragma once

#include <chrono>
#include <string>

namespace dielmon::sync {

// What went wrong, as far as the operator can act on it.
enum class Failure {
    None,
    NotConfigured,  // no server in Config.ini
    BadString,      // a connection string libpq cannot read, or one that holds a password
    Unreachable,    // no server answered: address, port, network, or the server is down
    Authentication, // the server refused the login: user or password
    NoDatabase,     // the server has no such database
    Permission,     // logged in, but not allowed what the program needs
    Interrupted,    // the connection was lost or the server stopped answering in the middle
    Server,         // the server reported another error, or is unsuitable (version, encoding)
    Refused,        // the server refused some results; the rest went through
    Local,          // the local archive failed
    Stopped,        // stopped on request
};

// How long the program waits on the network.
struct Limits {
    // For the connection, unless the string gives connect_timeout.
    std::chrono::milliseconds Connect{10000};
    // For each answer once connected: a server that says nothing for this long is given up.
    std::chrono::milliseconds Answer{60000};
};

struct Check {
    Failure Kind = Failure::None;
    std::string Message;       // what went wrong, or what was found when nothing did
    std::string ServerVersion; // "15.8" once reached
    bool Ok() const { return Kind == Failure::None; }
};

// Connects with the string and checks that the server can hold the lab's archive: PostgreSQL
// 13 or later, a UTF8 database, and the rights the program needs (to create its tables once,
// then to read and write them). Waits at most the limits; `stopFd`, when readable, ends the
// wait at once.
Check TestConnection(const std::string& server, const Limits& limits = {}, int stopFd = -1);

// The version of the libpq the program runs with: "15.8".
std::string LibpqVersion();

} // namespace dielmon::sync
