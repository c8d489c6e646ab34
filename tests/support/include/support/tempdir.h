// A fresh temporary folder for a test, removed with everything in it afterwards, and whole
// files read and written.
#pragma once

#include <filesystem>
#include <string>

namespace dielmon::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return Path_; }
    // The folder with a trailing "/", as a program folder is given.
    std::string Home() const { return Path_.string() + "/"; }
    std::string File(const std::string& name) const { return Home() + name; }

private:
    std::filesystem::path Path_;
};

std::string ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::string& bytes);

// Tests that depend on file permissions are skipped where they do not apply (root).
bool PermissionsApply();

} // namespace dielmon::test
