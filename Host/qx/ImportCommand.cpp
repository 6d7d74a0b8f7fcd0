#include "Command.h"

#include "Importers/NewCaptureDirectory.h"
#include "Importers/PerfCaptureImporter.h"
#include "Importers/PerfRecorder.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace Profiler {

namespace {

constexpr const char* kImportUsage =
    "Usage: qx import FILE|- -o CAPTURE_DIR [--event NAME] [--interval-ms MS] [--via-perf-script]\n"
    "FILE is perf script text (plain or gzip) or a perf.data file. A perf.data file is read\n"
    "directly, its DWARF stacks unwound on all cores; --via-perf-script has perf script print it\n"
    "instead (files the direct reader does not handle, such as compressed ones, always are).\n";

int ImportUsageError(const std::string& message)
{
    std::fprintf(stderr, "qx import: %s\n%s", message.c_str(), kImportUsage);
    return 1;
}

} // namespace

int RunImportCommand(const std::vector<std::string>& arguments)
{
    std::string input;
    std::string output;
    PerfImportOptions options;
    bool viaPerfScript = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        auto value = [&]() -> const std::string* {
            return i + 1 < arguments.size() ? &arguments[++i] : nullptr;
        };
        if (argument == "-o" || argument == "--output") {
            const std::string* text = value();
            if (!text)
                return ImportUsageError("-o needs a capture directory");
            output = *text;
        } else if (argument == "--event") {
            const std::string* text = value();
            if (!text || text->empty())
                return ImportUsageError("--event needs an event name");
            options.eventName = *text;
        } else if (argument == "--interval-ms") {
            const std::string* text = value();
            char* end = nullptr;
            const double interval = text ? std::strtod(text->c_str(), &end) : 0.0;
            if (!text || text->empty() || *end != '\0' || !(interval > 0.0) || interval > 1e9)
                return ImportUsageError("--interval-ms needs a positive number of milliseconds");
            options.intervalMs = interval;
        } else if (argument == "--via-perf-script") {
            viaPerfScript = true;
        } else if (argument == "-h" || argument == "--help") {
            std::fputs(kImportUsage, stdout);
            return 0;
        } else if (argument.size() > 1 && argument[0] == '-') {
            return ImportUsageError("unknown option '" + argument + "'");
        } else if (input.empty()) {
            input = argument;
        } else {
            return ImportUsageError("more than one input file ('" + input + "', '" + argument + "')");
        }
    }
    if (input.empty())
        return ImportUsageError("no input file (use - for standard input)");
    if (output.empty())
        return ImportUsageError("-o CAPTURE_DIR is required");

    NewCaptureDirectory directory;
    switch (directory.Prepare(output)) {
    case NewCaptureDirectory::EResult::Ready:
        break;
    case NewCaptureDirectory::EResult::Busy:
    case NewCaptureDirectory::EResult::Failed:
        std::fprintf(stderr, "qx import: %s: %s\n", output.c_str(), directory.GetMessage().c_str());
        return 2;
    }

    PerfImportStats stats;
    std::string problems;
    Serialization::ErrorList errors;
    // A perf data file is imported the way `qx record` imports its recording.
    const bool perfData = input != "-" && PerfRecordCommand::IsPerfDataFile(input);
    PerfRecordPlan plan;
    if (perfData) {
        plan = PerfRecorder::PlanForDataFile(input);
        plan.viaPerfScript = viaPerfScript;
    }
    const bool imported = perfData ? PerfRecorder::Import(plan, output, options, stats, problems, errors)
                                   : PerfCaptureImporter::Import(input, output, options, stats, problems, errors);
    const std::string inputName = input == "-" ? std::string("standard input") : input;
    if (!problems.empty())
        std::fprintf(stderr, "qx import: %s: %s\n", inputName.c_str(), problems.c_str());
    for (const Serialization::ErrorRecord& error : errors.GetErrors())
        std::fprintf(stderr, "qx import: %s%s%s\n", error.context.c_str(), error.context.empty() ? "" : ": ",
                     error.message.c_str());
    if (!imported) {
        // The directory was made for this import only. The importer removes what it wrote when
        // nothing is worth keeping, but keeps the samples before a cut in the input (and says so),
        // so only an empty directory goes.
        directory.Abandon();
        return 2;
    }
    std::printf("Imported %s into %s: %s\n", inputName.c_str(), output.c_str(),
                PerfCaptureImporter::DescribeStats(stats).c_str());
    return 0;
}

} // namespace Profiler
