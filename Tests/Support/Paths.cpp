#include "Support/Paths.h"

#include <cstdlib>
#include <system_error>

namespace TestSupport {
namespace {

std::filesystem::path FromEnvironment(const char* name, const char* fallback)
{
    const char* value = std::getenv(name);
    return (value && *value) ? std::filesystem::path(value) : std::filesystem::path(fallback);
}

} // namespace

std::filesystem::path TestDataDirectory()
{
    return FromEnvironment("QX_TEST_DATA", QX_DEFAULT_TEST_DATA).lexically_normal();
}

std::filesystem::path FuzzCorpusDirectory(const char* fuzzTarget)
{
    std::filesystem::path path = FromEnvironment("QX_FUZZ_CORPUS", QX_DEFAULT_FUZZ_CORPUS) / fuzzTarget;
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return path;
}

std::filesystem::path SourceDirectory()
{
    return FromEnvironment("QX_SOURCE_DIR", QX_DEFAULT_SOURCE_DIR);
}

std::filesystem::path BinaryDirectory()
{
    return FromEnvironment("QX_BINARY_DIR", QX_DEFAULT_BINARY_DIR);
}

} // namespace TestSupport
