#include "CaptureCommandSupport.h"
#include "Command.h"

#include "CaptureModel/SyntheticCaptureGenerator.h"

#include <cstdio>

namespace Profiler {

namespace {

constexpr const char* kUsage = "Usage: qx generate -o DIR [--seconds S] [--threads N] [--seed N]\n";

constexpr const char* kHelp =
    "Usage: qx generate -o DIR [--seconds S] [--threads N] [--seed N]\n"
    "\n"
    "Writes a synthetic capture of a made-up program into DIR (which must not exist or be\n"
    "empty): threads sampling a random walk over a call tree at 1 kHz, with context switches,\n"
    "instrumentation zones and some unrooted stacks. The same options always give the same\n"
    "capture.\n"
    "\n"
    "Options:\n"
    "  -o, --output DIR   the capture directory to write\n"
    "  --seconds S        capture length in seconds (default 10)\n"
    "  --threads N        number of threads (default 4)\n"
    "  --seed N           random seed (default 1)\n"
    "\n"
    "Exit status: 0 ok, 1 usage error, 2 the capture could not be written.\n";

} // namespace

int RunGenerateCommand(const std::vector<std::string>& arguments)
{
    Qx::ParsedArguments parsed;
    std::string error;
    if (!Qx::ParseArguments(arguments, {"o", "output", "seconds", "threads", "seed"}, {}, parsed, error))
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

    Serialization::ErrorList errors;
    SyntheticCaptureGenerator::Summary summary;
    if (!SyntheticCaptureGenerator(parameters)
             .Generate(output, CaptureDocument::GetRegistry(), summary, errors)) {
        Qx::PrintError("generate", errors);
        return Qx::kExitBadCapture;
    }
    std::printf("Wrote %s: %llu events (%llu samples), %u threads, %u functions, %.3f s\n", output.c_str(),
                static_cast<unsigned long long>(summary.events),
                static_cast<unsigned long long>(summary.samples), summary.threads, summary.functions,
                parameters.durationMs / 1000.0);
    return Qx::kExitOk;
}

} // namespace Profiler
