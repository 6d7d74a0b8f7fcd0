#pragma once

#include "Importers/PerfScriptFields.h"
#include "Importers/PerfScriptRecords.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Profiler {

/// Where the input stopped making sense first.
struct PerfScriptParseError {
    uint64_t lineNumber = 0; ///< 1-based
    std::string message;
};

struct PerfScriptParseStats {
    uint64_t lines = 0;
    uint64_t bytes = 0;
    uint64_t samples = 0;
    uint64_t schedSwitches = 0;
    uint64_t taskEvents = 0;
    uint64_t switchRecords = 0; ///< PERF_RECORD_SWITCH lines (--show-switch-events)
    uint64_t mmapEvents = 0;
    uint64_t otherRecords = 0;    ///< PERF_RECORD_ lines of kinds the import has no use for
    uint64_t badLines = 0;        ///< lines that fit no part of the grammar
    uint64_t droppedRecords = 0;  ///< records left out because one of their lines was bad
    uint64_t truncatedStacks = 0; ///< stacks deeper than kMaxFrames
    uint64_t outsideWindow = 0;   ///< one-line records left out by SetTimeWindow
};

/// A streaming parser of `perf script` text. Bytes come in chunks of any size (or line by
/// line); each complete record goes to the handler as soon as its end is seen: a blank line,
/// the next record's header, or the end of the input. A record with a line that fits no part
/// of the grammar is dropped as a whole and the line is counted; everything valid around it
/// still comes out. Memory stays bounded whatever the input: a line longer than kMaxLineLength
/// is dropped with its record, and a stack keeps its kMaxFrames innermost frames, so one record
/// holds at most kMaxFrames × kMaxLineLength bytes.
class PerfScriptParser {
public:
    static constexpr std::size_t kMaxLineLength = 64 * 1024;
    static constexpr std::size_t kMaxFrames = 512;

    explicit PerfScriptParser(IPerfScriptHandler& handler);

    /// Any slice of the input; lines may span calls.
    void Feed(std::string_view bytes);
    /// One whole line without its line break. Do not mix with a Feed that left a partial line.
    void ParseLine(std::string_view line);
    /// Ends the input: a last line without a line break and the pending record are handled.
    /// Input may follow (another part of the same text, such as the next time slice).
    void Finish();

    /// Passes on only the one-line records (PERF_RECORD_ lines) whose printed time lies in
    /// [lowNs, endNs), and those without a time when `keepUntimed`. perf script run on a time
    /// slice of a recording prints only that slice's samples but every one-line record, each of
    /// which must reach the handler once.
    void SetTimeWindow(uint64_t lowNs, uint64_t endNs, bool keepUntimed)
    {
        mWindowLowNs = lowNs;
        mWindowEndNs = endNs;
        mKeepUntimed = keepUntimed;
    }

    const PerfScriptParseStats& GetStats() const { return mStats; }

    /// For readers of perf's binary file, which decode the records themselves: where the
    /// records go, and the counts of what they handed on.
    IPerfScriptHandler& GetHandler() { return mHandler; }
    void AddDecodedRecords(const PerfScriptParseStats& stats);
    /// The first bad line, if any.
    const std::optional<PerfScriptParseError>& GetFirstError() const { return mFirstError; }

private:
    enum class ERecordState : uint8_t {
        None,     ///< between records
        Sample,   ///< collecting the frames of a sample or context switch
        Skipping, ///< inside a record that was given up; its frame lines are passed over
    };

    struct FrameSlot {
        uint64_t address;
        uint64_t symbolOffset;
        uint32_t symbolBegin;
        uint32_t symbolLength;
        uint32_t dsoBegin;
        uint32_t dsoLength;
        bool hasSymbolOffset;
    };

    void EndPartialLine();
    void HandleLine(std::string_view line);
    void HandleHeader(std::string_view line);
    void HandleFrame(std::string_view line, bool afterEmptyHeader);
    void StartUnfieldedRecord(std::string_view comm);
    bool StartUnfieldedOneLineRecord(std::string_view line);
    void TakeStackFrame(const PerfFrame& frame);
    void AddFrame(const PerfFrame& frame);
    void FinishRecord();
    static void DropRepeatedCallerFrames(std::vector<PerfFrame>& frames);
    void GiveUpRecord();
    void ReportBadLine(const char* what, std::string_view line, uint64_t lineNumber = 0);
    bool InWindow(const PerfRecordHeader& header);

    IPerfScriptHandler& mHandler; // not owned
    PerfScriptParseStats mStats;
    std::optional<PerfScriptParseError> mFirstError;

    std::string mPartialLine; // a line that spans Feed calls
    std::string mLineBuffer;
    bool mPartialLineTooLong = false;

    ERecordState mState = ERecordState::None;
    std::string mHeaderLine; // the current record's header; the fields below point into it
    PerfScriptFields::HeaderFields mHeader;
    bool mIsSchedSwitch = false;
    PerfSample mSample;
    PerfSchedSwitch mSchedSwitch;
    std::string mFrameText; // symbols and DSOs of the current record, back to back
    std::vector<FrameSlot> mFrameSlots;
    std::vector<PerfFrame> mFrames;
    bool mFramesTruncated = false;
    bool mOneLine = false;     ///< the record's frame came from its header line
    bool mStackEnded = false;  ///< a line that perf prints after the stack came
    bool mProvisional = false; ///< the header was only a command name; frames must follow
    bool mEmptyHeader = false; ///< a blank line stood where a header belongs
    /// Sample headers read from their fields. Until the first, the text may be one that `-F`
    /// printed without any (only a command name, or nothing at all); after it, such lines are
    /// errors.
    uint64_t mFieldedHeaders = 0;
    PerfScriptFields::EThreadIdField mThreadIdField = PerfScriptFields::EThreadIdField::Unknown;
    uint64_t mWindowLowNs = 0;
    uint64_t mWindowEndNs = UINT64_MAX;
    bool mKeepUntimed = true;
};

} // namespace Profiler
