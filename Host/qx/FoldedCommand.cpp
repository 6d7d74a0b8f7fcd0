#include "CaptureCommandSupport.h"
#include "Command.h"

#include "Importers/CaptureStackFolder.h"

#include <cstdio>
#include <filesystem>
#include <string>

namespace Profiler {

namespace {

constexpr const char* kFoldedUsage = "Usage: qx folded CAPTURE_DIR [--pid|--tid] [--kernel] [--jit] [--all] [--addrs]\n";

int FoldedUsageError(const std::string& message)
{
    std::fprintf(stderr, "qx folded: %s\n%s", message.c_str(), kFoldedUsage);
    return 1;
}

} // namespace

int RunFoldedCommand(const std::vector<std::string>& arguments)
{
    std::string capture;
    FoldOptions options;
    for (const std::string& argument : arguments) {
        if (argument == "-h" || argument == "--help") {
            std::fputs(kFoldedUsage, stdout);
            return 0;
        }
        if (argument.starts_with("--")) {
            const auto flag = FoldOptions::FromFlag(std::string_view(argument).substr(2));
            if (!flag)
                return FoldedUsageError("unknown option '" + argument + "'");
            options.includePid |= flag->includePid;
            options.includeTid |= flag->includeTid;
            options.annotateKernel |= flag->annotateKernel;
            options.annotateJit |= flag->annotateJit;
            options.includeAddresses |= flag->includeAddresses;
        } else if (capture.empty()) {
            capture = argument;
        } else {
            return FoldedUsageError("more than one capture ('" + capture + "', '" + argument + "')");
        }
    }
    if (capture.empty())
        return FoldedUsageError("no capture directory");
    if (options.includePid && options.includeTid)
        return FoldedUsageError("--pid and --tid exclude each other");
    // The folder reads the files on its own; opening the capture first refuses a damaged one
    // with the file named (and shows its warnings) instead of folding what is left of it.
    if (CaptureDocument document(1); !Qx::OpenCapture("folded", capture, document))
        return 2;

    std::string text;
    Serialization::ErrorList errors;
    if (!CaptureStackFolder::Fold(capture, options, text, errors)) {
        for (const Serialization::ErrorRecord& error : errors.GetErrors())
            std::fprintf(stderr, "qx folded: %s: %s\n", error.context.empty() ? capture.c_str() : error.context.c_str(),
                         error.message.c_str());
        if (errors.IsEmpty())
            std::fprintf(stderr, "qx folded: %s: the capture cannot be read\n", capture.c_str());
        return 2;
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 2;
}

} // namespace Profiler
