#include "Importers/PerfScriptFields.h"

#include <charconv>

namespace Profiler::PerfScriptFields {

namespace {

constexpr std::string_view kUnknown = "[unknown]";

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsHexDigit(char c)
{
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

std::string_view TrimLeft(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    return text.substr(i);
}

std::string_view TrimRight(std::string_view text)
{
    std::size_t n = text.size();
    while (n > 0 && IsBlank(text[n - 1]))
        --n;
    return text.substr(0, n);
}

std::string_view Trim(std::string_view text)
{
    return TrimRight(TrimLeft(text));
}

/// Splits off the first blank-separated token; `text` keeps what follows it (not trimmed).
std::string_view NextToken(std::string_view& text)
{
    text = TrimLeft(text);
    std::size_t end = 0;
    while (end < text.size() && !IsBlank(text[end]))
        ++end;
    std::string_view token = text.substr(0, end);
    text.remove_prefix(end);
    return token;
}

template <typename T> bool ParseDecimal(std::string_view text, T& out)
{
    if (text.empty())
        return false;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out, 10);
    return ec == std::errc() && ptr == end;
}

bool ParseHex(std::string_view text, uint64_t& out)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.remove_prefix(2);
    if (text.empty() || text.size() > 16)
        return false;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out, 16);
    return ec == std::errc() && ptr == end;
}

bool AllDigits(std::string_view text)
{
    if (text.empty())
        return false;
    for (char c : text)
        if (!IsDigit(c))
            return false;
    return true;
}

/// `PID` or `PID/TID` (either may be negative: perf prints -1 for records without a task).
bool ParsePidTid(std::string_view token, std::optional<int32_t>& pid, int32_t& tid)
{
    std::size_t slash = token.find('/');
    if (slash == std::string_view::npos) {
        pid.reset();
        return ParseDecimal(token, tid);
    }
    int32_t first = 0;
    if (!ParseDecimal(token.substr(0, slash), first) || !ParseDecimal(token.substr(slash + 1), tid))
        return false;
    pid = first;
    return true;
}

bool HasLetter(std::string_view text)
{
    for (char c : text)
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_')
            return true;
    return false;
}

/// `YYYY-MM-DD`.
bool IsDate(std::string_view token)
{
    return token.size() == 10 && token[4] == '-' && token[7] == '-' && AllDigits(token.substr(0, 4)) &&
           AllDigits(token.substr(5, 2)) && AllDigits(token.substr(8, 2));
}

/// Everything after the PID token of a header: `[CPU] [MISC] [TOD] [TIME:] PERF_RECORD_...` or
/// `[CPU] [MISC] [TOD] [TIME:] [PERIOD] [EVENT:] [ARGS | IP [SYM] [(DSO)]]`. Every field is
/// optional, because `perf script -F` prints any subset of them. `strong` tells whether the
/// header has at least one of the fields that cannot be mistaken for something else (CPU, time,
/// event, task record).
bool ParseHeaderRest(std::string_view rest, HeaderFields& out, bool& strong)
{
    strong = false;
    std::string_view token = NextToken(rest);
    out.header.cpu.reset();
    if (token.size() >= 3 && token.front() == '[' && token.back() == ']') {
        int32_t cpu = 0;
        if (!ParseDecimal(token.substr(1, token.size() - 2), cpu))
            return false;
        out.header.cpu = cpu;
        strong = true;
        token = NextToken(rest);
    }
    // `-F +misc`: the record's mode letters (K, U, H, G, g, and M, E, S, p, x for some kinds).
    if (!token.empty() && token.size() <= 5 &&
        token.find_first_not_of("KUHGgMESpx") == std::string_view::npos)
        token = NextToken(rest);
    // `-F +tod`: the wall-clock date and time, "2026-12-08 01:37:14.123456".
    if (IsDate(token)) {
        std::string_view clock = NextToken(rest);
        if (clock.size() < 8 || clock[2] != ':' || clock[5] != ':')
            return false;
        strong = true;
        token = NextToken(rest);
    }
    out.header.timeNs.reset();
    if (token.size() >= 2 && token.back() == ':' && IsDigit(token.front())) {
        uint64_t timeNs = 0;
        if (!ParseTimeNs(token.substr(0, token.size() - 1), timeNs))
            return false; // a number with a colon is a time or nothing
        out.header.timeNs = timeNs;
        strong = true;
        token = NextToken(rest);
    }
    out.kind = EHeaderKind::Sample;
    out.period.reset();
    out.eventName = {};
    out.hasEvent = false;
    if (token.starts_with("PERF_RECORD_")) {
        out.kind = EHeaderKind::TaskRecord;
        strong = true;
        // From the token on, including what NextToken already consumed.
        out.rest = TrimRight(std::string_view(token.data(), rest.data() + rest.size() - token.data()));
        return true;
    }
    // A bare number is the period when an event name follows it, or after a time (then nothing
    // or the sampled address may follow); otherwise it is the sampled address of a one-line record.
    if (AllDigits(token)) {
        std::string_view afterNumber = rest;
        std::string_view next = NextToken(afterNumber);
        const bool eventFollows = next.size() >= 2 && next.back() == ':' && HasLetter(next);
        if (eventFollows || out.header.timeNs) {
            uint64_t period = 0;
            if (!ParseDecimal(token, period))
                return false; // too large to be a period: a bad record, not part of the name
            out.period = period;
            token = NextToken(rest);
        }
    }
    if (token.size() >= 2 && token.back() == ':' && HasLetter(token)) {
        out.hasEvent = true;
        strong = true;
        out.eventName = token.substr(0, token.size() - 1);
        out.rest = Trim(rest);
        return true;
    }
    // No event name: what is left is empty, a tracepoint's `key=value` fields (`-F -event`), or
    // the sampled address with its symbol and DSO.
    out.rest = Trim(std::string_view(token.data(), rest.data() + rest.size() - token.data()));
    if (token.empty())
        out.rest = {};
    if (out.rest.empty())
        return true;
    if (token.find('=') != std::string_view::npos)
        return true;
    uint64_t address = 0;
    return ParseHex(token, address);
}

/// `NAME:PID [PRIO]` of the older sched_switch form.
bool ParseCompactTask(std::string_view text, std::string_view& comm, int32_t& pid, int32_t& prio)
{
    text = Trim(text);
    std::size_t open = text.rfind(" [");
    if (open == std::string_view::npos || text.back() != ']')
        return false;
    if (!ParseDecimal(text.substr(open + 2, text.size() - open - 3), prio))
        return false;
    std::string_view nameAndPid = TrimRight(text.substr(0, open));
    std::size_t colon = nameAndPid.rfind(':');
    if (colon == std::string_view::npos || !ParseDecimal(nameAndPid.substr(colon + 1), pid))
        return false;
    comm = nameAndPid.substr(0, colon);
    return true;
}

/// Reads `KEY=VALUE` where VALUE runs up to `nextKey` (or to the end of the text when it is empty).
bool TakeField(std::string_view& text, std::string_view key, std::string_view nextKey,
               std::string_view& value)
{
    if (!text.starts_with(key))
        return false;
    text.remove_prefix(key.size());
    if (nextKey.empty()) {
        value = TrimRight(text);
        text = {};
        return true;
    }
    std::size_t end = text.find(nextKey);
    if (end == std::string_view::npos)
        return false;
    value = text.substr(0, end);
    text.remove_prefix(end + 1); // keep the key, drop the blank before it
    return true;
}

bool ParseKeyedSchedSwitch(std::string_view text, PerfSchedSwitch& out)
{
    std::string_view prevPid, prevPrio, nextPid, nextPrio;
    if (!TakeField(text, "prev_comm=", " prev_pid=", out.prevComm) ||
        !TakeField(text, "prev_pid=", " prev_prio=", prevPid) ||
        !TakeField(text, "prev_prio=", " prev_state=", prevPrio) ||
        !TakeField(text, "prev_state=", " ==> ", out.prevState))
        return false;
    if (!text.starts_with("==> "))
        return false;
    text.remove_prefix(4);
    text = TrimLeft(text);
    if (!TakeField(text, "next_comm=", " next_pid=", out.nextComm) ||
        !TakeField(text, "next_pid=", " next_prio=", nextPid) || !TakeField(text, "next_prio=", {}, nextPrio))
        return false;
    return ParseDecimal(prevPid, out.prevPid) && ParseDecimal(prevPrio, out.prevPrio) &&
           ParseDecimal(nextPid, out.nextPid) && ParseDecimal(Trim(nextPrio), out.nextPrio) &&
           !out.prevState.empty();
}

bool ParseCompactSchedSwitch(std::string_view text, PerfSchedSwitch& out)
{
    std::size_t arrow = text.find(" ==> ");
    if (arrow == std::string_view::npos)
        return false;
    std::string_view left = TrimRight(text.substr(0, arrow));
    std::size_t stateStart = left.find_last_of(" \t");
    if (stateStart == std::string_view::npos)
        return false;
    out.prevState = left.substr(stateStart + 1);
    return !out.prevState.empty() &&
           ParseCompactTask(left.substr(0, stateStart), out.prevComm, out.prevPid, out.prevPrio) &&
           ParseCompactTask(text.substr(arrow + 5), out.nextComm, out.nextPid, out.nextPrio);
}

/// `(PID:TID):(PPID:PTID)` of fork and exit records.
bool ParseForkExitIds(std::string_view text, PerfTaskEvent& out)
{
    auto pair = [](std::string_view& rest, int32_t& a, int32_t& b) {
        if (!rest.starts_with("("))
            return false;
        std::size_t colon = rest.find(':');
        std::size_t close = rest.find(')');
        if (colon == std::string_view::npos || close == std::string_view::npos || colon > close)
            return false;
        bool ok = ParseDecimal(rest.substr(1, colon - 1), a) &&
                  ParseDecimal(rest.substr(colon + 1, close - colon - 1), b);
        rest.remove_prefix(close + 1);
        return ok;
    };
    if (!pair(text, out.pid, out.tid) || !text.starts_with(":"))
        return false;
    text.remove_prefix(1);
    return pair(text, out.parentPid, out.parentTid) && Trim(text).empty();
}

/// `PID/TID: [0xSTART(0xLEN) @ PGOFF ...]: PROT FILE` of mmap records.
bool ParseMmapBody(std::string_view text, PerfMmapEvent& out)
{
    std::string_view ids = NextToken(text);
    if (ids.size() < 2 || ids.back() != ':')
        return false;
    std::optional<int32_t> pid;
    if (!ParsePidTid(ids.substr(0, ids.size() - 1), pid, out.tid) || !pid)
        return false;
    out.pid = *pid;
    text = TrimLeft(text);
    if (!text.starts_with("["))
        return false;
    std::size_t open = text.find('(');
    std::size_t close = text.find(')');
    if (open == std::string_view::npos || close == std::string_view::npos || open > close)
        return false;
    if (!ParseHex(text.substr(1, open - 1), out.start) ||
        !ParseHex(text.substr(open + 1, close - open - 1), out.length))
        return false;
    text.remove_prefix(close + 1);
    text = TrimLeft(text);
    if (!text.starts_with("@"))
        return false;
    text.remove_prefix(1);
    std::string_view offset = NextToken(text);
    // The older form closes the bracket right after the offset ("@ 0]: x /bin/ls"); the newer
    // one adds device, inode and generation (or a build id) before it.
    std::size_t bracket = offset.find(']');
    bool closed = bracket != std::string_view::npos;
    std::string_view afterBracket = closed ? offset.substr(bracket + 1) : std::string_view();
    if (closed)
        offset = offset.substr(0, bracket);
    if (!ParseHex(offset, out.pageOffset))
        return false;
    if (closed) {
        if (afterBracket.empty() && text.starts_with(":"))
            text.remove_prefix(1);
        else if (afterBracket != ":")
            return false;
    } else {
        std::size_t end = text.find("]:");
        if (end == std::string_view::npos)
            return false;
        text.remove_prefix(end + 2);
    }
    out.protection = NextToken(text);
    out.fileName = Trim(text);
    if (out.fileName.empty()) {
        // "x" is optional in very old output; then the only token is the file name.
        out.fileName = out.protection;
        out.protection = {};
    }
    return !out.fileName.empty();
}

} // namespace

bool ParseTimeNs(std::string_view text, uint64_t& outNs)
{
    std::size_t dot = text.find('.');
    std::string_view whole = text.substr(0, dot);
    std::string_view fraction = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
    uint64_t seconds = 0;
    // 11 digits of seconds are more than three thousand years, far from overflowing in ns.
    if (!AllDigits(whole) || whole.size() > 11 || !ParseDecimal(whole, seconds))
        return false;
    if (dot != std::string_view::npos && !AllDigits(fraction))
        return false;
    uint64_t nanoseconds = 0;
    for (std::size_t i = 0; i < 9; ++i)
        nanoseconds = nanoseconds * 10 + (i < fraction.size() ? static_cast<uint64_t>(fraction[i] - '0') : 0);
    outNs = seconds * 1000000000ull + nanoseconds;
    return true;
}

bool ParseHeaderLine(std::string_view line, HeaderFields& out, EThreadIdField threadId)
{
    line = Trim(line);
    if (line.empty())
        return false;
    // `perf script -F` prints any subset of `COMM PID/TID ...`, and the command name may contain
    // blanks and digits, so the line is tried with the name ending before each blank-separated
    // token (an empty name first), the thread id next or absent. The first reading in which the
    // rest has a time, CPU, event or task record wins. Headers with none of them
    // (`-F comm,tid`, `-F comm,tid,ip,sym`) need a thread id, and take the last reading that
    // fits, since a name followed by numbers is likelier than a thread id followed by a lone
    // address. A header with neither thread id nor any of those fields is no header here: such
    // texts (`-F comm,ip,sym`, `-F ip,sym`) are told by where their lines stand (see the parser).
    std::size_t commEnd = 0;
    std::size_t position = 0;
    std::optional<HeaderFields> weak;
    std::size_t weakCommEnd = 0;
    while (true) {
        std::string_view rest = line.substr(position);
        std::string_view afterPid = rest;
        std::string_view pidToken = NextToken(afterPid);
        bool strong = false;
        if (threadId != EThreadIdField::Absent && !pidToken.empty() &&
            (IsDigit(pidToken.front()) || pidToken.front() == '-') &&
            ParsePidTid(pidToken, out.header.pid, out.header.tid) && ParseHeaderRest(afterPid, out, strong)) {
            out.hasThreadId = true;
            if (strong) {
                out.header.comm = line.substr(0, commEnd);
                return true;
            }
            weak = out;
            weakCommEnd = commEnd;
        }
        // Without a thread id only a strong reading counts.
        if (threadId != EThreadIdField::Present && ParseHeaderRest(rest, out, strong) && strong) {
            out.header.pid.reset();
            out.header.tid = 0;
            out.hasThreadId = false;
            out.header.comm = line.substr(0, commEnd);
            return true;
        }
        if (position >= line.size())
            break;
        while (position < line.size() && !IsBlank(line[position]))
            ++position;
        commEnd = position;
        while (position < line.size() && IsBlank(line[position]))
            ++position;
        if (position >= line.size())
            break;
    }
    if (!weak)
        return false;
    out = *weak;
    out.header.comm = line.substr(0, weakCommEnd);
    return true;
}

bool ParseFrameLine(std::string_view line, PerfFrame& out)
{
    std::string_view text = TrimRight(line);
    std::string_view addressToken = NextToken(text);
    if (!ParseHex(addressToken, out.address))
        return false;
    text = TrimLeft(text);

    // The DSO is the parenthesised group that ends the line (it may hold a nested "(deleted)").
    std::string_view symbolText = text;
    out.dso = kUnknown;
    if (!text.empty() && text.back() == ')') {
        int depth = 0;
        for (std::size_t i = text.size(); i-- > 0;) {
            if (text[i] == ')') {
                ++depth;
            } else if (text[i] == '(' && --depth == 0) {
                if (i == 0 || IsBlank(text[i - 1])) {
                    out.dso = text.substr(i + 1, text.size() - i - 2);
                    symbolText = TrimRight(text.substr(0, i));
                }
                break;
            }
        }
    }

    out.hasSymbolOffset = false;
    out.symbolOffset = 0;
    std::size_t plus = symbolText.rfind("+0x");
    if (plus != std::string_view::npos && plus > 0) {
        uint64_t offset = 0;
        std::string_view digits = symbolText.substr(plus + 3);
        bool allHex = !digits.empty();
        for (char c : digits)
            allHex = allHex && IsHexDigit(c);
        if (allHex && ParseHex(digits, offset)) {
            out.symbolOffset = offset;
            out.hasSymbolOffset = true;
            symbolText = symbolText.substr(0, plus);
        }
    }
    // "ADDR  (DSO)" (two blanks) is a symbol that perf printed empty; it stays empty, unlike a
    // frame with neither symbol nor DSO.
    out.symbol = symbolText.empty() && out.dso == kUnknown ? kUnknown : symbolText;
    return true;
}

bool ParseSchedSwitchArguments(std::string_view arguments, PerfSchedSwitch& out)
{
    arguments = Trim(arguments);
    if (arguments.starts_with("prev_comm="))
        return ParseKeyedSchedSwitch(arguments, out);
    return ParseCompactSchedSwitch(arguments, out);
}

bool ParseTaskRecord(std::string_view text, ETaskRecordKind& kind, PerfTaskEvent& task, PerfMmapEvent& mmap)
{
    text = Trim(text);
    if (text.starts_with("PERF_RECORD_COMM")) {
        kind = ETaskRecordKind::Comm;
        task.kind = EPerfTaskEventKind::Comm;
        text.remove_prefix(16);
        task.isExec = text.starts_with(" exec:");
        if (task.isExec)
            text.remove_prefix(6);
        else if (text.starts_with(":"))
            text.remove_prefix(1);
        else
            return false;
        text = TrimLeft(text);
        // NAME:PID/TID, where NAME may itself contain ':' and blanks.
        std::size_t colon = text.rfind(':');
        if (colon == std::string_view::npos)
            return false;
        std::optional<int32_t> pid;
        if (!ParsePidTid(text.substr(colon + 1), pid, task.tid) || !pid)
            return false;
        task.pid = *pid;
        task.parentPid = task.parentTid = 0;
        task.newComm = text.substr(0, colon);
        return true;
    }
    if (text.starts_with("PERF_RECORD_FORK") || text.starts_with("PERF_RECORD_EXIT")) {
        kind = text[12] == 'F' ? ETaskRecordKind::Fork : ETaskRecordKind::Exit;
        task.kind = kind == ETaskRecordKind::Fork ? EPerfTaskEventKind::Fork : EPerfTaskEventKind::Exit;
        task.newComm = {};
        task.isExec = false;
        return ParseForkExitIds(text.substr(16), task);
    }
    if (text.starts_with("PERF_RECORD_SWITCH")) {
        // "PERF_RECORD_SWITCH IN", "PERF_RECORD_SWITCH OUT preempt", and the system-wide form
        // "PERF_RECORD_SWITCH_CPU_WIDE OUT preempt  next pid/tid:  1234/1235".
        text.remove_prefix(18);
        if (text.starts_with("_CPU_WIDE"))
            text.remove_prefix(9);
        std::string_view direction = NextToken(text);
        if (direction != "IN" && direction != "OUT")
            return false;
        kind = ETaskRecordKind::Switch;
        task.kind = direction == "IN" ? EPerfTaskEventKind::SwitchIn : EPerfTaskEventKind::SwitchOut;
        task.preempted = task.kind == EPerfTaskEventKind::SwitchOut && NextToken(text) == "preempt";
        task.newComm = {};
        task.isExec = false;
        return true;
    }
    if (text.starts_with("PERF_RECORD_MMAP2 ") || text.starts_with("PERF_RECORD_MMAP ")) {
        kind = ETaskRecordKind::Mmap;
        return ParseMmapBody(text.substr(text[16] == '2' ? 18 : 17), mmap);
    }
    kind = ETaskRecordKind::Other;
    return true;
}

bool IsSchedSwitchEvent(std::string_view eventName)
{
    return eventName == "sched:sched_switch" || eventName == "sched_switch";
}

} // namespace Profiler::PerfScriptFields
