#include "CaptureCommandSupport.h"
#include "Command.h"

#include "CaptureModel/SyntheticCaptureGenerator.h"

#include <cstdio>

namespace Profiler {

namespace {

constexpr const char* kUsage =
    "Usage: qx generate -o DIR [--seconds S] [--threads N] [--seed N] [--new-paths P] [--paths N]\n";

constexpr const char* kHelp =
    "Usage: qx generate -o DIR [--seconds S] [--threads N] [--seed N] [--new-paths P] [--paths N]\n"
    "\n"
    "Writes a synthetic capture of a made-up program into DIR (which must not exist or be\n"
    "empty): threads sampling a random walk over a call tree at 1 kHz, with context switches,\n"
    "instrumentation zones and some unrooted stacks. The program starts with a call tree of\n"
    "--paths stacks; at each sample a thread steps onto a call path never seen before with the\n"
    "chance --new-paths (0: the call paths saturate, like a service in its loop; 1: every sample\n"
    "is a new path). The same options always give the same capture.\n"
    "\n"
    "Options:\n"
    "  -o, --output DIR   the capture directory to write\n"
    "  --seconds S        capture length in seconds (default 10)\n"
    "  --threads N        number of threads (default 4)\n"
    "  --seed N           random seed (default 1)\n"
    "  --new-paths P      chance of a new call path per sample, 0 to 1 (default 0.5)\n"
    "  --paths N          call paths of the program at the start (default 2000)\n"
    "\n"
    "Exit status: 0 ok, 1 usage error, 2 the capture could not be written.\n";

} // namespace

int RunGenerateCommand(const std::vector<std::string>& arguments)
{
    Qx::ParsedArguments parsed;
    std::string error;
    if (!Qx::ParseArguments(arguments, {"o", "output", "seconds", "threads", "seed", "new-paths", "paths"},
                            {}, parsed, error))
        return Qx::UsageError("generate", kUsage, error);
    if (parsed.help) {
        std::fputs(kHelp, stdout);
        return Qx::kExitOk;
    }
    if (!parsed.positionals.empty())
        return Qx::UsageError("generate", kUsage, "unexpected argument '" + parsed.positionals[0] + "'");
    std::string output = parsed.Has("o") ? parsed.options["o"] : parsed.options["output"];
    if (output.empty())
        return Qx::UsageError("generate", kUsage, "-o DIR is required");

    SyntheticCaptureGenerator::Parameters parameters;
    parameters.durationMs = 10000.0;
    if (parsed.Has("seconds")) {
        const std::optional<double> seconds = Qx::ParseNumber(parsed.options["seconds"]);
        if (!seconds || *seconds <= 0.0 || *seconds > 86400.0)
            return Qx::UsageError("generate", kUsage,
                                  "--seconds wants a length of more than 0 and at most 86400 seconds");
        parameters.durationMs = *seconds * 1000.0;
    }
    if (parsed.Has("threads")) {
        const std::optional<uint64_t> threads = Qx::ParseCount(parsed.options["threads"]);
        if (!threads || *threads == 0 || *threads > 1024)
            return Qx::UsageError("generate", kUsage, "--threads wants a count from 1 to 1024");
        parameters.threadCount = static_cast<uint32_t>(*threads);
    }
    if (parsed.Has("seed")) {
        const std::optional<uint64_t> seed = Qx::ParseCount(parsed.options["seed"]);
        if (!seed)
            return Qx::UsageError("generate", kUsage, "--seed wants a non-negative integer");
        parameters.seed = *seed;
    }

    if (parsed.Has("new-paths")) {
        const std::optional<double> chance = Qx::ParseNumber(parsed.options["new-paths"]);
        if (!chance || !(*chance >= 0.0 && *chance <= 1.0))
            return Qx::UsageError("generate", kUsage, "--new-paths wants a chance from 0 to 1");
        parameters.newPathChance = *chance;
    }
    if (parsed.Has("paths")) {
        const std::optional<uint64_t> paths = Qx::ParseCount(parsed.options["paths"]);
        if (!paths || *paths < 4 || *paths > 100000000)
            return Qx::UsageError("generate", kUsage, "--paths wants a count from 4 to 100000000");
        parameters.callPaths = static_cast<uint32_t>(*paths);
    }

    Serialization::ErrorList errors;
    SyntheticCaptureGenerator::Summary summary;
    if (!SyntheticCaptureGenerator(parameters)
             .Generate(output, CaptureDocument::GetRegistry(), summary, errors)) {
        Qx::PrintError("generate", errors);
        return Qx::kExitBadCapture;
    }
    std::printf("Wrote %s: %llu events (%llu samples), %u threads, %u functions, %llu call paths, %.3f s\n",
                output.c_str(), static_cast<unsigned long long>(summary.events),
                static_cast<unsigned long long>(summary.samples), summary.threads, summary.functions,
                static_cast<unsigned long long>(summary.callPaths), parameters.durationMs / 1000.0);
    return Qx::kExitOk;
}

} // namespace Profiler
