#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The error report that every loader and writer of persisted data appends to. It lives at the
// bottom of the library stack because directory removal and file helpers report into it too,
// not only the object file readers.

namespace Serialization {

enum class EErrorCode : uint32_t {
    WriteFailed = 0,   ///< every writer error
    FileNotFound = 1,  ///< the file does not exist
    FileAccess = 2,    ///< size or open failures
    NotThisFormat = 3, ///< wrong magic, buffer too short for a header
    Compatibility = 4, ///< a stored object cannot be mapped onto the running classes
    NewerVersion = 5,  ///< unsupported format version, or an object newer than its class
    Corrupt = 6,       ///< short data, read errors, checksum failures, bad roots
};

struct ErrorRecord {
    EErrorCode code = EErrorCode::WriteFailed;
    std::string context; ///< innermost context (usually a file path) when the error was added
    std::string message;
};

/// A caller-owned list of error records with a stack of contexts.
class ErrorList {
public:
    void Add(EErrorCode code, std::string message);
    void AddFormatted(EErrorCode code, const char* format, ...) __attribute__((format(printf, 3, 4)));

    void PushContext(std::string context);
    void PopContext();

    const std::vector<ErrorRecord>& GetErrors() const { return mErrors; }
    bool IsEmpty() const { return mErrors.empty(); }
    std::size_t GetCount() const { return mErrors.size(); }
    void Clear() { mErrors.clear(); }

    /// One line per record, "context: message" (or the message alone without context).
    std::string ToString() const;

    /// Pushes a context for the lifetime of the scope.
    class ContextScope {
    public:
        ContextScope(ErrorList& list, std::string context) : mList(list) { mList.PushContext(std::move(context)); }
        ~ContextScope() { mList.PopContext(); }
        ContextScope(const ContextScope&) = delete;
        ContextScope& operator=(const ContextScope&) = delete;

    private:
        ErrorList& mList;
    };

private:
    std::vector<ErrorRecord> mErrors;
    std::vector<std::string> mContexts;
};

} // namespace Serialization
