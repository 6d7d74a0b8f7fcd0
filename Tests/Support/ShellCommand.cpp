#include "Support/ShellCommand.h"

#include "Support/TempDirectory.h"

#include <cstdlib>
#include <sys/wait.h>

namespace TestSupport {

std::string ShellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

ShellResult RunShell(const std::string& command, const std::filesystem::path& directory)
{
    const std::filesystem::path out = directory / ".shell-stdout";
    const std::filesystem::path err = directory / ".shell-stderr";
    const std::string line = "cd " + ShellQuote(directory.string()) + " && { " + command + " ; } >" +
                             ShellQuote(out.string()) + " 2>" + ShellQuote(err.string()) + " </dev/null";
    const int status = std::system(line.c_str());
    ShellResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadFile(out);
    result.err = ReadFile(err);
    std::error_code ignored;
    std::filesystem::remove(out, ignored);
    std::filesystem::remove(err, ignored);
    return result;
}

} // namespace TestSupport
