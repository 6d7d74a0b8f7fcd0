#pragma once

// Small programs compiled by the tests themselves, so that every check compares against what
// this machine's compiler emitted. They are built once per test run in a temporary folder.

#include "SymbolResolution/ResolveLog.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace SymbolTest {

/// Lines of kProgramSource that the checks refer to.
inline constexpr int32_t kSquareLine = 3;      ///< the body of the inlined Square
inline constexpr int32_t kSumLoopLine = 8;     ///< Sum's call of Square
inline constexpr int32_t kCallerCallLine = 12; ///< Caller's call of Sum

struct Programs {
    std::filesystem::path Folder;
    std::filesystem::path Source;    ///< program.c
    std::filesystem::path Full;      ///< -g -O2, symbols and DWARF in the image
    std::filesystem::path Stripped;  ///< no symbols, no DWARF
    std::filesystem::path ByBuildId; ///< DWARF only under DebugRoot/.build-id
    std::filesystem::path DebugRoot;
    std::filesystem::path ByLink;    ///< DWARF in a file named by .gnu_debuglink beside it
    std::filesystem::path WrongLink; ///< .gnu_debuglink names the debug file of another build
    std::filesystem::path NoSource;  ///< full debug information; its source file was deleted
};

/// The programs; fails the running test (and returns empty paths) when they cannot be built.
const Programs& GetPrograms();

/// The address of a function symbol of the full program, or of `image` (from nm).
uint64_t SymbolAddress(const std::string& name);
uint64_t SymbolAddress(const std::filesystem::path& image, const std::string& name);

/// The first address of Sum (full program) where the inlined Square runs, as addr2line sees it;
/// 0 when the compiler inlined it nowhere.
uint64_t AddressInInlinedSquare();

/// Search options that look only where a test puts files, never in the system's debug root.
Profiler::SymbolSearchOptions IsolatedOptions();

/// Compiles a C++ program into the tests' folder with g++ and `flags`; an empty path (and a
/// failed test) when it does not compile.
std::filesystem::path CompileCpp(const std::string& name, const std::string& source,
                                 const std::string& flags);

/// Runs a shell command and returns its standard output.
std::string RunCommand(const std::string& command);

/// What addr2line reports for each address, innermost frame first: (function, line).
std::map<uint64_t, std::vector<std::pair<std::string, int32_t>>>
Addr2Line(const std::filesystem::path& image, const std::vector<uint64_t>& addresses);

} // namespace SymbolTest
