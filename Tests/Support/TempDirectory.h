#pragma once

#include <filesystem>
#include <string>

namespace TestSupport {

/// A fresh directory under the system temporary directory, removed with everything in it when
/// the object dies.
class TempDirectory {
public:
    TempDirectory();
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::filesystem::path& GetPath() const { return mPath; }
    std::filesystem::path operator/(const std::string& name) const { return mPath / name; }

private:
    std::filesystem::path mPath;
};

/// Writes `contents` to `path`, replacing the file.
void WriteFile(const std::filesystem::path& path, const std::string& contents);
/// The whole file as bytes; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);

} // namespace TestSupport
