#include "Importers/PerfScriptFields.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

using namespace Profiler;
using namespace Profiler::PerfScriptFields;

TEST(PerfScriptFields, HeaderShapesOfEveryPerfVersion)
{
    // "comm pid/tid [cpu] time period event", a "?" for each field the line lacks.
    auto parsed = [](const char* line) {
        HeaderFields fields;
        if (!ParseHeaderLine(line, fields) || fields.kind != EHeaderKind::Sample)
            return std::string("refused");
        const auto field = [](const auto& value) {
            return value ? std::to_string(*value) : std::string("?");
        };
        return std::string(fields.header.comm) + " " + field(fields.header.pid) + "/" +
               std::to_string(fields.header.tid) + " [" + field(fields.header.cpu) + "] " +
               field(fields.header.timeNs) + " " + field(fields.period) + " " + std::string(fields.eventName);
    };
    const std::pair<const char*, const char*> cases[] = {
        // tid only, time, period
        {"dd 29776 666709.771979:   10101010 cpu-clock: ",
         "dd ?/29776 [?] 666709771979000 10101010 cpu-clock"},
        // pid/tid and cpu, no period
        {"iperf 27409/28744 [000] 441995.133575: cpu-clock: ",
         "iperf 27409/28744 [0] 441995133575000 ? cpu-clock"},
        // neither time nor period
        {"node-v011 31912 cpu-clock: ", "node-v011 ?/31912 [?] ? ? cpu-clock"},
        // padded command name, the event right-aligned
        {"swapper     0 [000] 1410597.994889:       cycles: ", "swapper ?/0 [0] 1410597994889000 ? cycles"},
        // blanks and digits inside the command name; nanosecond times
        {"V8 WorkerThread 2 24636/25607 [003] 94564.109216123: 100 cycles:u: ",
         "V8 WorkerThread 2 24636/25607 [3] 94564109216123 100 cycles:u"},
        // a tracepoint with its arguments
        {"demo 24350/24354  1283.374836:          1 sched:sched_switch: prev_comm=sleeper prev_pid=24354",
         "demo 24350/24354 [?] 1283374836000 1 sched:sched_switch"},
        // -F +misc and -F +tod
        {"sh  5067/5067  U     19194.656924: ", "sh 5067/5067 [?] 19194656924000 ? "},
        {"sh 5067 2026-12-08 01:37:14.123456 19194.656924: cycles:", "sh ?/5067 [?] 19194656924000 ? cycles"},
        // no command name, or no thread id (then a time, CPU or event must be there)
        {" 5067 19194.656924: ", " ?/5067 [?] 19194656924000 ? "},
        {"19194.656924: ", " ?/0 [?] 19194656924000 ? "},
        {"cpu-clock: ", " ?/0 [?] ? ? cpu-clock"},
        {"Thread 2 [001] 1.5: ", "Thread ?/2 [1] 1500000000 ? "},
    };
    for (const auto& [line, expected] : cases)
        EXPECT_EQ(parsed(line), expected) << line;

    HeaderFields fields;
    ASSERT_TRUE(
        ParseHeaderLine("demo 24350/24354  1283.374836:  1 sched:sched_switch: prev_comm=a b  ", fields));
    EXPECT_EQ(fields.rest, "prev_comm=a b");

    for (const char* bad : {"", "just words here", "sh 5067", "sh 7fe136b34f02 main"})
        EXPECT_FALSE(ParseHeaderLine(bad, fields, EThreadIdField::Absent)) << bad;
    // In a text whose headers carry thread ids, a header must have one that fits.
    for (const char* bad : {"", "just words here", "19194.656924: ", "comm 12 [x] 1.0: ev:",
                            "comm notapid 1.0: ev:", "comm 12 1.0: 5 notanaddress",
                            "comm 99999999999 1.0: ev:", "comm 1 1.0: 99999999999999999999999 ev:"})
        EXPECT_FALSE(ParseHeaderLine(bad, fields, EThreadIdField::Present)) << bad;
    ASSERT_TRUE(ParseHeaderLine("Thread 2 1.5: cycles:", fields, EThreadIdField::Absent));
    EXPECT_EQ(fields.header.comm, "Thread 2");
    EXPECT_FALSE(fields.hasThreadId);
}

TEST(PerfScriptFields, TimesAreExactNanoseconds)
{
    uint64_t ns = 0;
    ASSERT_TRUE(ParseTimeNs("645.181279", ns));
    EXPECT_EQ(ns, 645181279000ull);
    ASSERT_TRUE(ParseTimeNs("0.000000001999", ns)); // digits beyond nanoseconds are cut off
    EXPECT_EQ(ns, 1ull);
    ASSERT_TRUE(ParseTimeNs("12", ns));
    EXPECT_EQ(ns, 12000000000ull);
    EXPECT_FALSE(ParseTimeNs("1.2.3", ns));
    EXPECT_FALSE(ParseTimeNs("123456789012.5", ns)); // more seconds than the format allows
    EXPECT_FALSE(ParseTimeNs(".5", ns));
}

std::string Hex(uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof(text), "%llx", static_cast<unsigned long long>(value));
    return text;
}

/// A parsed frame as "address symbol[+offset] (dso)", address in hex.
std::string Describe(const PerfFrame& frame)
{
    std::string text = Hex(frame.address) + " " + std::string(frame.symbol);
    if (frame.hasSymbolOffset)
        text += "+" + std::to_string(frame.symbolOffset);
    return text + " (" + std::string(frame.dso) + ")";
}

TEST(PerfScriptFields, FrameLines)
{
    const std::pair<const char*, const char*> cases[] = {
        {"\t           153e0 update_active.constprop.0+0x270 (/usr/lib/ld-linux.so.2)",
         "153e0 update_active.constprop.0+624 (/usr/lib/ld-linux.so.2)"},
        {"\tffffffff82248208 __schedule ([kernel.kallsyms])",
         "ffffffff82248208 __schedule ([kernel.kallsyms])"},
        // C++ signatures keep their parentheses; only the last group is the DSO.
        {"  dd777 v8::Call(v8::Isolate*, bool) (/tmp/node-v011)",
         "dd777 v8::Call(v8::Isolate*, bool) (/tmp/node-v011)"},
        {"  249f (anonymous namespace)::SleepWorker+0x1c (/tmp/demo)",
         "249f (anonymous namespace)::SleepWorker+28 (/tmp/demo)"},
        // perf marks inlined functions where the DSO goes; an empty symbol (two blanks) stays empty.
        {"\t  153e0 update_active+0x270 (inlined)", "153e0 update_active+624 (inlined)"},
        {"\t7f1e2215d058  (/lib/libc-2.15.so)", "7f1e2215d058  (/lib/libc-2.15.so)"},
        // A DSO of a deleted file carries a nested group.
        {"\t  91fdb [unknown] (/memfd:sealed-91173221a7ea (deleted))",
         "91fdb [unknown] (/memfd:sealed-91173221a7ea (deleted))"},
        {"               0 [unknown] ([unknown])", "0 [unknown] ([unknown])"},
        // Missing symbol and DSO read as unknown; a "+0x" that is not hex stays in the name.
        {"  0x7f00", "7f00 [unknown] ([unknown])"},
        {"  10 operator+0xzz (/bin/x)", "10 operator+0xzz (/bin/x)"},
    };
    PerfFrame frame;
    for (const auto& [line, expected] : cases) {
        frame = {};
        ASSERT_TRUE(ParseFrameLine(line, frame)) << line;
        EXPECT_EQ(Describe(frame), expected);
    }
    for (const char* bad :
         {"", "   ", "  xyz main (/bin/x)", "  12345678901234567 main (/bin/x)", "  -1 f (/x)"})
        EXPECT_FALSE(ParseFrameLine(bad, frame)) << bad;
}

TEST(PerfScriptFields, SchedSwitchArgumentsInBothForms)
{
    auto parsed = [](const char* text) {
        PerfSchedSwitch record;
        if (!ParseSchedSwitchArguments(text, record))
            return std::string("refused");
        return std::string(record.prevComm) + ":" + std::to_string(record.prevPid) + " [" +
               std::to_string(record.prevPrio) + "] " + std::string(record.prevState) + " ==> " +
               std::string(record.nextComm) + ":" + std::to_string(record.nextPid) + " [" +
               std::to_string(record.nextPrio) + "]";
    };
    EXPECT_EQ(parsed("prev_comm=Web Content prev_pid=7574 prev_prio=120 prev_state=D|K ==> "
                     "next_comm=swapper/1 next_pid=0 next_prio=120"),
              "Web Content:7574 [120] D|K ==> swapper/1:0 [120]");
    EXPECT_EQ(parsed("kworker/0:1:12 [120] R+ ==> perf:1234 [100]"),
              "kworker/0:1:12 [120] R+ ==> perf:1234 [100]");
    for (const char* text :
         {"", "prev_comm=a prev_pid=x prev_prio=1 prev_state=S ==> next_comm=b next_pid=2 next_prio=3",
          "prev_comm=a prev_pid=1 prev_prio=1 prev_state=S next_comm=b next_pid=2 next_prio=3",
          "prev_comm=a prev_pid=1 prev_prio=1 prev_state= ==> next_comm=b next_pid=2 next_prio=3",
          "a:1 [120] ==> b:2 [120]", "a:1 [120] S ==> b:x [120]"})
        EXPECT_EQ(parsed(text), "refused") << text;
}

TEST(PerfScriptFields, TaskAndMmapRecords)
{
    auto parsed = [](const char* text) {
        ETaskRecordKind kind = ETaskRecordKind::Other;
        PerfTaskEvent task;
        PerfMmapEvent mmap;
        if (!ParseTaskRecord(text, kind, task, mmap))
            return std::string("refused");
        const auto n = [](auto value) { return std::to_string(value); };
        switch (kind) {
        case ETaskRecordKind::Comm:
            return std::string(task.isExec ? "exec " : "comm ") + std::string(task.newComm) + " " +
                   n(task.pid) + "/" + n(task.tid);
        case ETaskRecordKind::Fork:
        case ETaskRecordKind::Exit:
            return std::string(task.kind == EPerfTaskEventKind::Fork ? "fork " : "exit ") + n(task.pid) +
                   ":" + n(task.tid) + " of " + n(task.parentPid) + ":" + n(task.parentTid);
        case ETaskRecordKind::Mmap:
            return "mmap " + n(mmap.pid) + " " + Hex(mmap.start) + "+" + Hex(mmap.length) + "@" +
                   Hex(mmap.pageOffset) + " " + std::string(mmap.protection) + " " +
                   std::string(mmap.fileName);
        default:
            return std::string("other");
        }
    };
    const std::pair<const char*, std::string> cases[] = {
        {"PERF_RECORD_COMM exec: demo:24350/24350", "exec demo 24350/24350"},
        {"PERF_RECORD_COMM: Web Content:a:100/101", "comm Web Content:a 100/101"},
        {"PERF_RECORD_FORK(7570:7572):(7570:7570)", "fork 7570:7572 of 7570:7570"},
        {"PERF_RECORD_EXIT(7570:7577):(7568:7568)", "exit 7570:7577 of 7568:7568"},
        {"PERF_RECORD_MMAP2 7570/7570: [0x55a6daa92000(0x2000) @ 0x2000 fe:00 10953015 1572651590]: r-xp "
         "/tmp/my demo",
         "mmap 7570 55a6daa92000+2000@2000 r-xp /tmp/my demo"},
        {"PERF_RECORD_MMAP -1/0: [0xffffffff81000000(0x1259b00) @ 0xffffffff81000000]: x "
         "[kernel.kallsyms]_text",
         "mmap -1 ffffffff81000000+1259b00@ffffffff81000000 x [kernel.kallsyms]_text"},
        {"PERF_RECORD_MMAP 1/1: [0x400000(0x1000) @ 0]: x /bin/ls", "mmap 1 400000+1000@0 x /bin/ls"},
        {"PERF_RECORD_LOST_SAMPLES: 12", "other"},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(parsed(text), expected) << text;
    for (const char* bad : {"PERF_RECORD_COMM demo:1/1", "PERF_RECORD_COMM: demo", "PERF_RECORD_FORK(1:2)",
                            "PERF_RECORD_EXIT(1:2):(3:x)", "PERF_RECORD_MMAP2 1/1: [0x10(0x20)]: r-xp /a",
                            "PERF_RECORD_MMAP2 1/1: 0x10(0x20) @ 0 1:2 3 4]: r-xp /a"})
        EXPECT_EQ(parsed(bad), "refused") << bad;
}

} // namespace
