// qx: the command-line front end of Quasarix.

#include "Command.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

void PrintUsage(std::FILE* stream)
{
    std::fputs("Usage: qx [--version] [--help] <command> [arguments]\n"
               "\n"
               "Quasarix analyses captures of a program's execution (sampled call stacks, context\n"
               "switches and instrumentation zones) as call graphs.\n"
               "\n"
               "Commands (each takes --help):\n",
               stream);
    // Summaries in one column; the full argument lists are too long for it and go underneath.
    for (const Profiler::QxCommand& command : Profiler::GetQxCommands()) {
        std::fprintf(stream, "  %-11s %s\n", command.name, command.summary);
        if (*command.arguments)
            std::fprintf(stream, "  %-11s   qx %s %s\n", "", command.name, command.arguments);
    }
    std::fputs("\n"
               "Options:\n"
               "  --version   print the version and exit\n"
               "  --help      print this help and exit\n",
               stream);
}

/// A command's answer that did not reach its reader (a full disk, a closed pipe) is no answer:
/// the exit status must say so, whatever the command returned.
int CheckOutput(const char* command, int status)
{
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return status;
    const int error = errno;
    std::fprintf(stderr, "qx %s: cannot write the output: %s\n", command,
                 error != 0 ? std::strerror(error) : "write error");
    return status != 0 ? status : 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        PrintUsage(stderr);
        return 1;
    }
    const std::string first = argv[1];
    if (first == "--version" || first == "version") {
        std::printf("qx %s\n", QX_VERSION);
        return CheckOutput("--version", 0);
    }
    if (first == "--help" || first == "-h" || first == "help") {
        PrintUsage(stdout);
        return CheckOutput("--help", 0);
    }
    for (const Profiler::QxCommand& command : Profiler::GetQxCommands())
        if (first == command.name)
            return CheckOutput(command.name, command.run(std::vector<std::string>(argv + 2, argv + argc)));
    std::fprintf(stderr, "qx: unknown command '%s'\n\n", first.c_str());
    PrintUsage(stderr);
    return 1;
}
