#pragma once

#include <filesystem>
#include <string>

// Running the built programs the way a user does, for end-to-end tests.

namespace TestSupport {

struct ShellResult {
    int exitCode = -1; ///< -1 when the command did not exit normally
    std::string out;
    std::string err;
};

/// `text` as one single-quoted shell word.
std::string ShellQuote(const std::string& text);

/// Runs `command` with /bin/sh in `directory`, standard input from /dev/null, and collects its
/// standard output and standard error apart (through files in `directory`, removed afterwards).
ShellResult RunShell(const std::string& command, const std::filesystem::path& directory);

} // namespace TestSupport
