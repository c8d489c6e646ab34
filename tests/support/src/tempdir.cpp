#include "support/tempdir.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace dielmon::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "dielmon-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("no temporary folder");
    }
    Path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(Path_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(Path_, ignored);
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

bool PermissionsApply() {
    return ::geteuid() != 0;
}

} // namespace dielmon::test
