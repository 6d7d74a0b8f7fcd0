#include "Command.h"

#include "Importers/PerfCaptureImporter.h"
#include "System/Platform/FileLock.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace Profiler {

namespace {

constexpr const char* kImportUsage =
    "Usage: qx import FILE|- -o CAPTURE_DIR [--event NAME] [--interval-ms MS]\n";

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

    // Two imports into one directory would mix their files. The directory is created here, so
    // that one of two racing imports finds it made by the other, and its write lock is held until
    // the capture is complete; a second writer is told who has it instead of waiting to fail.
    std::error_code error;
    const std::filesystem::path directory(output);
    if (!directory.parent_path().empty())
        std::filesystem::create_directories(directory.parent_path(), error);
    const bool created = std::filesystem::create_directory(directory, error);
    System::Platform::FileLock lock;
    if (lock.TryLock(directory) == System::Platform::FileLock::EResult::Busy) {
        std::fprintf(stderr, "qx import: %s: %s is writing a capture there; wait for it to finish\n",
                     output.c_str(), lock.GetMessage().c_str());
        return 2;
    }

    PerfImportStats stats;
    std::string problems;
    Serialization::ErrorList errors;
    const bool imported = PerfCaptureImporter::Import(input, output, options, stats, problems, errors);
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
        if (created) {
            lock.Unlock();
            std::filesystem::remove(directory, error);
        }
        return 2;
    }
    std::printf("Imported %s into %s: %s\n", inputName.c_str(), output.c_str(),
                PerfCaptureImporter::DescribeStats(stats).c_str());
    return 0;
}

} // namespace Profiler
