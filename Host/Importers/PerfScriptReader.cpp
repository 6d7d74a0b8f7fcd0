#include "Importers/PerfScriptReader.h"

#include "Utility/Format.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <zlib.h>

namespace Profiler {

namespace {

struct GzFileCloser {
    void operator()(gzFile_s* file) const { gzclose(file); }
};
using GzFile = std::unique_ptr<gzFile_s, GzFileCloser>;

} // namespace

bool PerfScriptReader::Read(const std::string& path, PerfScriptParser& parser,
                            Serialization::ErrorList& errors)
{
    const bool fromStdin = path == "-";
    const char* displayName = fromStdin ? "standard input" : path.c_str();
    GzFile file;
    if (fromStdin) {
        // gzclose closes the descriptor it was given; keep the process's own stdin open.
        int descriptor = dup(STDIN_FILENO);
        if (descriptor >= 0) {
            file.reset(gzdopen(descriptor, "rb"));
            if (!file)
                close(descriptor);
        }
    } else {
        file.reset(gzopen(path.c_str(), "rb"));
    }
    if (!file) {
        int error = errno;
        errors.AddFormatted(Serialization::EErrorCode::FileAccess, "Unable to open %s: %s", displayName,
                            error != 0 ? std::strerror(error) : "out of memory");
        parser.Finish();
        return false;
    }
    // Reads of at least zlib's own buffer size go straight into ours, without a copy.
    gzbuffer(file.get(), 64 << 10);
    auto buffer = std::make_unique_for_overwrite<char[]>(kChunkSize);
    bool ok = true;
    while (true) {
        int count = gzread(file.get(), buffer.get(), static_cast<unsigned>(kChunkSize));
        if (count > 0)
            parser.Feed(std::string_view(buffer.get(), static_cast<std::size_t>(count)));
        if (count < static_cast<int>(kChunkSize)) {
            int code = Z_OK;
            const char* message = gzerror(file.get(), &code);
            if (count < 0 || (code != Z_OK && code != Z_STREAM_END)) {
                const char* reason = code == Z_ERRNO ? std::strerror(errno) : message;
                errors.AddFormatted(Serialization::EErrorCode::Corrupt, "Unable to read %s: %s", displayName,
                                    reason != nullptr && *reason != '\0' ? reason : "read error");
                ok = false;
                break;
            }
            if (gzeof(file.get()))
                break;
        }
    }
    parser.Finish();
    return ok;
}

std::string PerfScriptReader::DescribeProblems(const PerfScriptParser& parser)
{
    const auto& firstError = parser.GetFirstError();
    if (!firstError)
        return {};
    const PerfScriptParseStats& stats = parser.GetStats();
    std::string text =
        Utility::Format("line %llu: %s", static_cast<unsigned long long>(firstError->lineNumber),
                        firstError->message.c_str());
    if (stats.badLines > 1)
        text += Utility::Format(" (and %llu more bad lines)",
                                static_cast<unsigned long long>(stats.badLines - 1));
    if (stats.droppedRecords > 0)
        text +=
            Utility::Format("; %llu records left out", static_cast<unsigned long long>(stats.droppedRecords));
    return text;
}

} // namespace Profiler
