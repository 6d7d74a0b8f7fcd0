#include "Importers/PerfScriptParser.h"

#include "Utility/Format.h"

#include <algorithm>
#include <utility>

namespace Profiler {

namespace {

bool IsBlankLine(std::string_view line)
{
    return std::all_of(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t' || c == '\r'; });
}

bool IsHexText(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    });
}

/// A line that perf prints under a frame or a one-line record to annotate it, not a frame:
/// `FILE:LINE` of `-F +srcline` ("??:0" or ":0" when unknown, "(inlined)" after it for inlined
/// code), `BINARY[OFFSET]` for a binary without line tables, and `insn: BYTES` of `-F +insn`.
/// Callers try the line as a frame or header first, so a file name may hold blanks.
bool IsAnnotationLine(std::string_view line)
{
    std::size_t begin = line.find_first_not_of(" \t");
    std::size_t end = line.find_last_not_of(" \t\r");
    if (begin == std::string_view::npos)
        return false;
    std::string_view text = line.substr(begin, end - begin + 1);
    if (text.starts_with("insn:"))
        return true;
    if (text.back() == ']') {
        std::size_t open = text.rfind('[');
        return open != std::string_view::npos && open > 0 &&
               IsHexText(text.substr(open + 1, text.size() - open - 2)) &&
               text.find_first_of(" \t()") == std::string_view::npos;
    }
    constexpr std::string_view kInlined = " (inlined)";
    if (text.ends_with(kInlined))
        text.remove_suffix(kInlined.size());
    std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || colon + 1 == text.size())
        return false;
    return std::all_of(text.begin() + static_cast<std::ptrdiff_t>(colon) + 1, text.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

/// Whether the text after a header's event starts with a hex address (the sampled address of a
/// one-line record) rather than tracepoint fields (`key=value ...`).
bool LooksLikeFrame(std::string_view text)
{
    std::size_t end = text.find_first_of(" \t");
    std::string_view token = text.substr(0, end);
    if (token.empty() || token.size() > 18)
        return false;
    if (token.starts_with("0x"))
        token.remove_prefix(2);
    return IsHexText(token);
}

/// The sampled instruction of a one-line record: `IP [SYM] [(DSO)]`, after the data address when
/// `-F +addr` printed one first (`ADDR IP SYM ...`: two addresses, then no DSO group).
std::string_view SampledFrameText(std::string_view text)
{
    std::size_t gap = text.find_first_of(" \t");
    if (gap == std::string_view::npos)
        return text;
    std::string_view second = text.substr(text.find_first_not_of(" \t", gap));
    std::size_t secondEnd = second.find_first_of(" \t");
    if (secondEnd == std::string_view::npos || !LooksLikeFrame(second))
        return text;
    std::string_view third = second.substr(second.find_first_not_of(" \t", secondEnd));
    return third.starts_with("(") ? text : second;
}

/// A short, printable excerpt of a bad line for the error message.
std::string Excerpt(std::string_view line)
{
    constexpr std::size_t kMaxExcerpt = 80;
    std::string text;
    for (char c : line.substr(0, kMaxExcerpt)) {
        unsigned char byte = static_cast<unsigned char>(c);
        text += (byte >= 0x20 && byte < 0x7f) || c == '\t' ? c : '?';
    }
    if (line.size() > kMaxExcerpt)
        text += "...";
    return text;
}

} // namespace

PerfScriptParser::PerfScriptParser(IPerfScriptHandler& handler) : mHandler(handler) {}

void PerfScriptParser::Feed(std::string_view bytes)
{
    mStats.bytes += bytes.size();
    while (!bytes.empty()) {
        std::size_t newline = bytes.find('\n');
        std::string_view piece = bytes.substr(0, newline);
        bool complete = newline != std::string_view::npos;
        bytes.remove_prefix(complete ? newline + 1 : bytes.size());

        if (mPartialLine.empty() && !mPartialLineTooLong && complete) {
            ParseLine(piece); // the common case: a whole line inside the chunk, no copy
            continue;
        }
        if (!mPartialLineTooLong) {
            if (mPartialLine.size() + piece.size() > kMaxLineLength) {
                mPartialLineTooLong = true;
                mPartialLine.clear();
                mPartialLine.shrink_to_fit();
            } else {
                mPartialLine.append(piece);
            }
        }
        if (complete)
            EndPartialLine();
    }
}

void PerfScriptParser::EndPartialLine()
{
    if (mPartialLineTooLong) {
        // Counted as a line of its own; its text is gone, only its length was a problem.
        mPartialLineTooLong = false;
        ++mStats.lines;
        ReportBadLine("line longer than the limit", {});
        GiveUpRecord();
        return;
    }
    mLineBuffer.swap(mPartialLine); // both keep their capacity for the next lines
    mPartialLine.clear();
    ParseLine(mLineBuffer);
}

void PerfScriptParser::ParseLine(std::string_view line)
{
    ++mStats.lines;
    if (line.size() > kMaxLineLength) {
        ReportBadLine("line longer than the limit", line);
        GiveUpRecord();
        return;
    }
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    HandleLine(line);
}

void PerfScriptParser::Finish()
{
    if (mPartialLineTooLong || !mPartialLine.empty())
        EndPartialLine(); // the input ended without a final line break
    if (mState == ERecordState::Sample) {
        if (mFrameSlots.empty() || mOneLine || mProvisional || mStackEnded) {
            // Headers alone (`-F comm,tid,time` without call graphs, or a record whose stack
            // perf found empty, which it prints without a blank line): no stack was cut.
            FinishRecord();
        } else {
            // Without its closing blank line the record may have been cut short, and a stack
            // that lost its outer frames would be counted under the wrong callers: leave it
            // out, as the folding tools do.
            ReportBadLine("the input ends inside a record (no blank line after its last frame); the record "
                          "is left out",
                          {});
            GiveUpRecord();
        }
    }
    mState = ERecordState::None;
}

void PerfScriptParser::HandleLine(std::string_view line)
{
    if (line.empty() || IsBlankLine(line)) {
        // `-F` without any header field prints an empty header line before each stack: a blank
        // line where a header belongs (nothing is open), not the one that ends a record.
        const bool emptyHeader = mState == ERecordState::None && mFieldedHeaders == 0;
        FinishRecord();
        mEmptyHeader = emptyHeader;
        return;
    }
    const bool emptyHeader = std::exchange(mEmptyHeader, false);
    if (line.front() == '#')
        return; // the header block and comments
    if (line.front() != ' ' && line.front() != '\t') {
        // Older perf versions print frames without indentation: inside a record, a line that is
        // no header but a frame is taken as one.
        PerfScriptFields::HeaderFields probe;
        PerfFrame frame;
        if (mState == ERecordState::Sample && mFieldedHeaders > 0 &&
            !PerfScriptFields::ParseHeaderLine(line, probe, mThreadIdField) &&
            PerfScriptFields::ParseFrameLine(line, frame)) {
            TakeStackFrame(frame);
            return;
        }
        HandleHeader(line);
        return;
    }
    HandleFrame(line, emptyHeader);
}

void PerfScriptParser::StartUnfieldedRecord(std::string_view comm)
{
    mHeaderLine.assign(comm);
    mHeader = {};
    mHeader.header.comm = mHeaderLine;
    mHeader.header.tid = UnnamedThreadId(mHeaderLine);
    mHeader.header.lineNumber = mStats.lines;
    mIsSchedSwitch = false;
    mState = ERecordState::Sample;
    mFrameText.clear();
    mFrameSlots.clear();
    mFramesTruncated = false;
}

bool PerfScriptParser::StartUnfieldedOneLineRecord(std::string_view line)
{
    // Without call graphs and header fields, a sample is one line: its address (`-F ip,sym`),
    // or its command name and address (`-F comm,ip,sym`). The address is the first token that is
    // one; short hex words are likelier part of a name.
    constexpr std::size_t kMinAddressDigits = 4;
    std::size_t position = line.find_first_not_of(" \t");
    PerfFrame frame;
    for (bool first = true; position != std::string_view::npos; first = false) {
        std::size_t end = line.find_first_of(" \t", position);
        std::string_view token = line.substr(position, end == std::string_view::npos ? end : end - position);
        const std::size_t next = end == std::string_view::npos ? end : line.find_first_not_of(" \t", end);
        std::string_view nextToken = next == std::string_view::npos ? std::string_view() : line.substr(next);
        nextToken = nextToken.substr(0, nextToken.find_first_of(" \t"));
        // "dd 7f12a0 main": a hex-looking command name before the address.
        const bool nameBeforeAddress = nextToken.size() >= kMinAddressDigits && IsHexText(nextToken);
        if ((first || token.size() >= kMinAddressDigits) && !nameBeforeAddress && IsHexText(token) &&
            PerfScriptFields::ParseFrameLine(line.substr(position), frame)) {
            std::string_view comm = line.substr(0, position);
            comm.remove_prefix(std::min(comm.find_first_not_of(" \t"), comm.size()));
            StartUnfieldedRecord(comm.substr(0, comm.find_last_not_of(" \t") + 1));
            AddFrame(frame);
            FinishRecord();
            return true;
        }
        position = next;
    }
    return false;
}

void PerfScriptParser::TakeStackFrame(const PerfFrame& frame)
{
    if (mOneLine) {
        // The address on the header line was another field (`-F +addr`): the stack follows.
        mOneLine = false;
        mFrameText.clear();
        mFrameSlots.clear();
    }
    mProvisional = false;
    AddFrame(frame);
}

void PerfScriptParser::HandleHeader(std::string_view line)
{
    FinishRecord(); // a record whose blank line is missing ends at the next header
    if (line.starts_with("PERF_RECORD_FINISHED_")) {
        // `--show-round-events`: perf's flush marks, printed without a header.
        ++mStats.otherRecords;
        return;
    }
    mHeaderLine.assign(line);
    mHeader = {};
    if (!PerfScriptFields::ParseHeaderLine(mHeaderLine, mHeader, mThreadIdField)) {
        if (mFieldedHeaders == 0) {
            // `-F comm,ip,sym` and the like: a header that is only the command name. It is one
            // if stack frames follow it; FinishRecord reports it otherwise.
            StartUnfieldedRecord(line.substr(0, line.find_last_not_of(" \t") + 1));
            mProvisional = true;
            return;
        }
        ReportBadLine("not a record header", line);
        mState = ERecordState::Skipping;
        return;
    }
    mHeader.header.lineNumber = mStats.lines;
    if (!mHeader.hasThreadId)
        mHeader.header.tid = UnnamedThreadId(mHeader.header.comm);
    if (mThreadIdField == PerfScriptFields::EThreadIdField::Unknown)
        mThreadIdField = mHeader.hasThreadId ? PerfScriptFields::EThreadIdField::Present
                                             : PerfScriptFields::EThreadIdField::Absent;

    if (mHeader.kind == PerfScriptFields::EHeaderKind::TaskRecord) {
        PerfTaskEvent task;
        PerfMmapEvent mmap;
        PerfScriptFields::ETaskRecordKind kind = PerfScriptFields::ETaskRecordKind::Other;
        if (!PerfScriptFields::ParseTaskRecord(mHeader.rest, kind, task, mmap)) {
            ReportBadLine("malformed PERF_RECORD line", line);
            mState = ERecordState::Skipping;
            return;
        }
        // Task records are one line each; the state stays None.
        if (!InWindow(mHeader.header))
            return;
        switch (kind) {
        case PerfScriptFields::ETaskRecordKind::Comm:
        case PerfScriptFields::ETaskRecordKind::Fork:
        case PerfScriptFields::ETaskRecordKind::Exit:
            task.header = mHeader.header;
            ++mStats.taskEvents;
            mHandler.OnTaskEvent(task);
            break;
        case PerfScriptFields::ETaskRecordKind::Switch:
            task.header = mHeader.header;
            task.tid = mHeader.header.tid;
            task.pid = mHeader.header.pid.value_or(0);
            task.knownProcess = mHeader.header.pid.has_value();
            ++mStats.switchRecords;
            mHandler.OnTaskEvent(task);
            break;
        case PerfScriptFields::ETaskRecordKind::Mmap:
            mmap.header = mHeader.header;
            ++mStats.mmapEvents;
            mHandler.OnMmapEvent(mmap);
            break;
        case PerfScriptFields::ETaskRecordKind::Other:
            ++mStats.otherRecords;
            break;
        }
        return;
    }

    // Task records print their own fields whatever `-F` says; a sample header decides.
    ++mFieldedHeaders;
    // Without `-F event` a context switch is told by its fields.
    mIsSchedSwitch = PerfScriptFields::IsSchedSwitchEvent(mHeader.eventName) ||
                     (!mHeader.hasEvent && mHeader.rest.starts_with("prev_comm="));
    if (mIsSchedSwitch) {
        mSchedSwitch = {};
        if (!PerfScriptFields::ParseSchedSwitchArguments(mHeader.rest, mSchedSwitch)) {
            ReportBadLine("malformed sched_switch fields", line);
            mState = ERecordState::Skipping;
            return;
        }
    }
    mState = ERecordState::Sample;
    mFrameText.clear();
    mFrameSlots.clear();
    mFramesTruncated = false;

    // Without call graphs perf prints the sampled address on the header line itself, and such
    // records are one line each, often with no blank line between them. The record is complete
    // unless stack frames follow: then the address was another field, such as `-F +addr`.
    if (!mIsSchedSwitch && !mHeader.rest.empty() && LooksLikeFrame(mHeader.rest)) {
        PerfFrame frame;
        if (PerfScriptFields::ParseFrameLine(SampledFrameText(mHeader.rest), frame)) {
            AddFrame(frame);
            mHeader.rest = {};
            mOneLine = true;
        }
    }
}

void PerfScriptParser::HandleFrame(std::string_view line, bool afterEmptyHeader)
{
    PerfScriptFields::HeaderFields probe;
    switch (mState) {
    case ERecordState::Skipping:
        return;
    case ERecordState::None: {
        PerfFrame frame;
        const bool unfielded = mFieldedHeaders == 0;
        if (unfielded && afterEmptyHeader && PerfScriptFields::ParseFrameLine(line, frame)) {
            // A text without header fields (`-F ip,sym`): the stack after its empty header line.
            StartUnfieldedRecord({});
            TakeStackFrame(frame);
            return;
        }
        if (IsAnnotationLine(line))
            return; // the source line or instruction of a one-line record
        // Some perf versions right-align the command name (one-line records always do).
        if (PerfScriptFields::ParseHeaderLine(line, probe, mThreadIdField)) {
            HandleHeader(line.substr(line.find_first_not_of(" \t")));
            return;
        }
        if (unfielded && StartUnfieldedOneLineRecord(line))
            return;
        ReportBadLine("stack frame outside a record", line);
        mState = ERecordState::Skipping;
        return;
    }
    case ERecordState::Sample:
        break;
    }
    if (mOneLine && !IsAnnotationLine(line) &&
        PerfScriptFields::ParseHeaderLine(line, probe, mThreadIdField)) {
        // The next one-line record, right-aligned.
        HandleHeader(line.substr(line.find_first_not_of(" \t")));
        return;
    }
    PerfFrame frame;
    if (!PerfScriptFields::ParseFrameLine(line, frame)) {
        if (IsAnnotationLine(line)) {
            // `-F +srcline` prints "  FILE:LINE" under each frame; `-F +insn` prints the
            // instruction after the stack, and then no blank line.
            mStackEnded = line.find("insn:") != std::string_view::npos;
            return;
        }
        if (PerfScriptFields::ParseHeaderLine(line, probe, mThreadIdField)) {
            // A right-aligned header right after a record that had no closing blank line.
            HandleHeader(line.substr(line.find_first_not_of(" \t")));
            return;
        }
        ReportBadLine("not a stack frame", line);
        GiveUpRecord();
        return;
    }
    TakeStackFrame(frame);
}

void PerfScriptParser::AddFrame(const PerfFrame& frame)
{
    if (mFrameSlots.size() >= kMaxFrames) {
        mFramesTruncated = true;
        return;
    }
    FrameSlot slot;
    slot.address = frame.address;
    slot.symbolOffset = frame.symbolOffset;
    slot.hasSymbolOffset = frame.hasSymbolOffset;
    slot.symbolBegin = static_cast<uint32_t>(mFrameText.size());
    slot.symbolLength = static_cast<uint32_t>(frame.symbol.size());
    mFrameText.append(frame.symbol);
    slot.dsoBegin = static_cast<uint32_t>(mFrameText.size());
    slot.dsoLength = static_cast<uint32_t>(frame.dso.size());
    mFrameText.append(frame.dso);
    mFrameSlots.push_back(slot);
}

void PerfScriptParser::DropRepeatedCallerFrames(std::vector<PerfFrame>& frames)
{
    // Some perf versions print a caller's frame both before and after the functions inlined at
    // its address: "A f (dso)", "A g (inlined)", ..., "A f (dso)". One code address is one
    // frame; the first line would make f its own caller through its inlined functions.
    auto sameFrame = [](const PerfFrame& a, const PerfFrame& b) {
        return a.address == b.address && a.symbol == b.symbol && a.dso == b.dso;
    };
    std::size_t kept = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        std::size_t next = i + 1;
        while (next < frames.size() && frames[next].dso == "inlined" && frames[next].address == frames[i].address)
            ++next;
        const bool repeated = frames[i].dso != "inlined" && next > i + 1 && next < frames.size() &&
                              sameFrame(frames[i], frames[next]);
        if (!repeated)
            frames[kept++] = frames[i];
    }
    frames.resize(kept);
}

void PerfScriptParser::FinishRecord()
{
    mOneLine = false;
    mStackEnded = false;
    if (mState != ERecordState::Sample) {
        mState = ERecordState::None;
        return;
    }
    mState = ERecordState::None;
    if (std::exchange(mProvisional, false)) {
        // A line that would have been a header of only a command name, but no stack followed.
        ReportBadLine("not a record header", mHeaderLine, mHeader.header.lineNumber);
        return;
    }

    mFrames.resize(mFrameSlots.size());
    std::string_view text = mFrameText;
    for (std::size_t i = 0; i < mFrameSlots.size(); ++i) {
        const FrameSlot& slot = mFrameSlots[i];
        PerfFrame& frame = mFrames[i];
        frame.address = slot.address;
        frame.symbolOffset = slot.symbolOffset;
        frame.hasSymbolOffset = slot.hasSymbolOffset;
        frame.symbol = text.substr(slot.symbolBegin, slot.symbolLength);
        frame.dso = text.substr(slot.dsoBegin, slot.dsoLength);
    }
    if (mFramesTruncated)
        ++mStats.truncatedStacks;
    DropRepeatedCallerFrames(mFrames);

    PerfSample& sample = mIsSchedSwitch ? mSchedSwitch.sample : mSample;
    sample.header = mHeader.header;
    sample.period = mHeader.period;
    sample.eventName = mHeader.eventName;
    sample.arguments = mHeader.rest;
    sample.frames = std::span<const PerfFrame>(mFrames.data(), mFrames.size());
    sample.framesTruncated = mFramesTruncated;
    if (mIsSchedSwitch) {
        ++mStats.schedSwitches;
        mHandler.OnSchedSwitch(mSchedSwitch);
    } else {
        ++mStats.samples;
        mHandler.OnSample(sample);
    }
}

bool PerfScriptParser::InWindow(const PerfRecordHeader& header)
{
    const bool inside =
        header.timeNs ? *header.timeNs >= mWindowLowNs && *header.timeNs < mWindowEndNs : mKeepUntimed;
    mStats.outsideWindow += !inside;
    return inside;
}

void PerfScriptParser::GiveUpRecord()
{
    if (mState == ERecordState::Sample)
        ++mStats.droppedRecords;
    mState = ERecordState::Skipping;
}

void PerfScriptParser::ReportBadLine(const char* what, std::string_view line, uint64_t lineNumber)
{
    ++mStats.badLines;
    if (mFirstError)
        return;
    PerfScriptParseError error;
    error.lineNumber = lineNumber != 0 ? lineNumber : mStats.lines;
    error.message =
        line.empty() ? std::string(what) : Utility::Format("%s: \"%s\"", what, Excerpt(line).c_str());
    mFirstError = std::move(error);
}

void PerfScriptParser::AddDecodedRecords(const PerfScriptParseStats& stats)
{
    mStats.bytes += stats.bytes;
    mStats.samples += stats.samples;
    mStats.schedSwitches += stats.schedSwitches;
    mStats.taskEvents += stats.taskEvents;
    mStats.switchRecords += stats.switchRecords;
    mStats.mmapEvents += stats.mmapEvents;
    mStats.otherRecords += stats.otherRecords;
    mStats.truncatedStacks += stats.truncatedStacks;
}

} // namespace Profiler
