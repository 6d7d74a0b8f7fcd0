#include "Support/TempDirectory.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

namespace TestSupport {

TempDirectory::TempDirectory()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "qx-test-XXXXXX").string();
    if (char* made = mkdtemp(pattern.data()))
        mPath = made;
    else
        throw std::runtime_error("cannot create a temporary directory");
}

TempDirectory::~TempDirectory()
{
    std::error_code error;
    // Tests may leave read-only directories behind; make them writable so removal succeeds.
    for (auto it = std::filesystem::recursive_directory_iterator(mPath, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error))
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, error);
    std::filesystem::permissions(mPath, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, error);
    std::filesystem::remove_all(mPath, error);
}

void WriteFile(const std::filesystem::path& path, const std::string& contents)
{
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    stream.write(contents.data(), static_cast<std::streamsize>(contents.size()));
}

std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream buffer;
    buffer << stream.rdbuf();
    return buffer.str();
}

} // namespace TestSupport
