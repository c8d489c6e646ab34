// The lab server's schema "dielmon": made and brought up to date by the program, one step per
// version, each recorded in dielmon.version. Internal.
#pragma once

#include "postgres.h"

#include <vector>

namespace dielmon::sync::detail {

// The advisory locks of the program on the server: (class, 1) while the schema is changed,
// (class, 2) from the first write of a transaction to its end, so that the change numbers are
// given out in the order their transactions commit. "DLMA".
inline constexpr int kLockClass = 0x444C4D41;

struct ServerStep {
    int To = 0;
    const char* Sql = nullptr; // fixed statements, run in the step's transaction
};
// The steps of this program; the schema it writes is the last one's.
const std::vector<ServerStep>& ServerSteps();
int ServerSchemaVersion(const std::vector<ServerStep>& steps = ServerSteps());

// Creates the schema or brings it up to date; false with the problem when it cannot (a newer
// program's schema, no right to create it). Two programs at once: one waits for the other.
bool EnsureServerSchema(Connection& c, Problem& problem,
                        const std::vector<ServerStep>& steps = ServerSteps());

} // namespace dielmon::sync::detail
