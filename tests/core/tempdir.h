// A fresh temporary folder for a test, removed with everything in it afterwards.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace dielmon::test {

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "dielmon-XXXXXX").string();
        Path_ = ::mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(Path_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(Path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder with a trailing "/".
    std::string Home() const { return Path_ + "/"; }
    std::string File(const std::string& name) const { return Path_ + "/" + name; }

private:
    std::string Path_;
};

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// Tests that depend on file permissions are skipped where they do not apply (root).
inline bool PermissionsApply() {
    return ::geteuid() != 0;
}

} // namespace dielmon::test
