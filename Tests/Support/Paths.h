#pragma once

#include <filesystem>

// Where tests find things. Each path can be overridden by an environment variable of the same
// name (QX_TEST_DATA, QX_FUZZ_CORPUS, QX_SOURCE_DIR, QX_BINARY_DIR); otherwise the build tree's
// own locations are used.

namespace TestSupport {

/// The shared test data folder (real perf script captures and their expected outputs).
std::filesystem::path TestDataDirectory();
/// Where tests write seed inputs for the fuzz targets: <this>/<FuzzTarget>/.
std::filesystem::path FuzzCorpusDirectory(const char* fuzzTarget);
std::filesystem::path SourceDirectory();
std::filesystem::path BinaryDirectory();

} // namespace TestSupport
