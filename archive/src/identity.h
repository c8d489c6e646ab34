// Names that identify: random UUIDs for results and stations, SHA-256 for the keys that tell a
// result already archived. Internal.
#pragma once

#include <string>

namespace dielmon::archive::detail {

// A version 4 UUID, lower-case, "xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx".
std::string NewUuid();
// The SHA-256 digest of the bytes in lower-case hexadecimal.
std::string Sha256Hex(const std::string& bytes);
// This machine's host name; "localhost" when it has none.
std::string HostName();

} // namespace dielmon::archive::detail
