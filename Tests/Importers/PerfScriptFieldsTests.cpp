#include "Importers/PerfScriptFields.h"

#include <gtest/gtest.h>

namespace {

using namespace Profiler;
using namespace Profiler::PerfScriptFields;

TEST(PerfScriptFields, HeaderShapesOfEveryPerfVersion)
{
    struct Case {
        const char* line;
        const char* comm;
        std::optional<int32_t> pid;
        int32_t tid;
        std::optional<int32_t> cpu;
        std::optional<uint64_t> timeNs;
        std::optional<uint64_t> period;
        const char* event;
    };
    const Case cases[] = {
        // tid only, time, period
        {"dd 29776 666709.771979:   10101010 cpu-clock: ", "dd", std::nullopt, 29776, std::nullopt,
         666709771979000ull, 10101010, "cpu-clock"},
        // pid/tid and cpu, no period
        {"iperf 27409/28744 [000] 441995.133575: cpu-clock: ", "iperf", 27409, 28744, 0, 441995133575000ull,
         std::nullopt, "cpu-clock"},
        // neither time nor period
        {"node-v011 31912 cpu-clock: ", "node-v011", std::nullopt, 31912, std::nullopt, std::nullopt,
         std::nullopt, "cpu-clock"},
        // padded command name, the event right-aligned
        {"swapper     0 [000] 1410597.994889:       cycles: ", "swapper", std::nullopt, 0, 0,
         1410597994889000ull, std::nullopt, "cycles"},
        // blanks and digits inside the command name; nanosecond times
        {"V8 WorkerThread 2 24636/25607 [003] 94564.109216123: 100 cycles:u: ", "V8 WorkerThread 2", 24636,
         25607, 3, 94564109216123ull, 100, "cycles:u"},
        // a tracepoint with its arguments
        {"demo 24350/24354  1283.374836:          1 sched:sched_switch: prev_comm=sleeper prev_pid=24354",
         "demo", 24350, 24354, std::nullopt, 1283374836000ull, 1, "sched:sched_switch"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        HeaderFields fields;
        ASSERT_TRUE(ParseHeaderLine(c.line, fields));
        EXPECT_EQ(fields.kind, EHeaderKind::Sample);
        EXPECT_EQ(fields.header.comm, c.comm);
        EXPECT_EQ(fields.header.pid, c.pid);
        EXPECT_EQ(fields.header.tid, c.tid);
        EXPECT_EQ(fields.header.cpu, c.cpu);
        EXPECT_EQ(fields.header.timeNs, c.timeNs);
        EXPECT_EQ(fields.period, c.period);
        EXPECT_EQ(fields.eventName, c.event);
    }

    HeaderFields fields;
    ASSERT_TRUE(
        ParseHeaderLine("demo 24350/24354  1283.374836:  1 sched:sched_switch: prev_comm=a b  ", fields));
    EXPECT_EQ(fields.rest, "prev_comm=a b");

    for (const char* bad : {"", "just words here",
                            "comm 12 [x] 1.0: ev:", "comm notapid 1.0: ev:", "comm 12 1.0: 5 notanaddress",
                            "comm 99999999999 1.0: ev:", "comm 1 1.0: 99999999999999999999999 ev:"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(ParseHeaderLine(bad, fields));
    }
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

TEST(PerfScriptFields, FrameLines)
{
    PerfFrame frame;
    ASSERT_TRUE(
        ParseFrameLine("\t           153e0 update_active.constprop.0+0x270 (/usr/lib/ld-linux.so.2)", frame));
    EXPECT_EQ(frame.address, 0x153e0u);
    EXPECT_EQ(frame.symbol, "update_active.constprop.0");
    EXPECT_TRUE(frame.hasSymbolOffset);
    EXPECT_EQ(frame.symbolOffset, 0x270u);
    EXPECT_EQ(frame.dso, "/usr/lib/ld-linux.so.2");

    ASSERT_TRUE(ParseFrameLine("\tffffffff82248208 __schedule ([kernel.kallsyms])", frame));
    EXPECT_EQ(frame.address, 0xffffffff82248208u);
    EXPECT_FALSE(frame.hasSymbolOffset);
    EXPECT_EQ(frame.dso, "[kernel.kallsyms]");

    // C++ signatures keep their parentheses; only the last group is the DSO.
    ASSERT_TRUE(ParseFrameLine("  dd777 v8::Call(v8::Isolate*, bool) (/tmp/node-v011)", frame));
    EXPECT_EQ(frame.symbol, "v8::Call(v8::Isolate*, bool)");
    EXPECT_EQ(frame.dso, "/tmp/node-v011");
    ASSERT_TRUE(ParseFrameLine("  249f (anonymous namespace)::SleepWorker+0x1c (/tmp/demo)", frame));
    EXPECT_EQ(frame.symbol, "(anonymous namespace)::SleepWorker");

    // perf marks inlined functions where the DSO goes; an empty symbol (two blanks) stays empty.
    ASSERT_TRUE(ParseFrameLine("\t  153e0 update_active+0x270 (inlined)", frame));
    EXPECT_EQ(frame.symbol, "update_active");
    EXPECT_EQ(frame.dso, "inlined");
    ASSERT_TRUE(ParseFrameLine("\t7f1e2215d058  (/lib/libc-2.15.so)", frame));
    EXPECT_EQ(frame.symbol, "");
    EXPECT_EQ(frame.dso, "/lib/libc-2.15.so");
    ASSERT_TRUE(ParseFrameLine("\t  91fdb [unknown] (/memfd:sealed-91173221a7ea (deleted))", frame));
    EXPECT_EQ(frame.dso, "/memfd:sealed-91173221a7ea (deleted)");

    // A DSO of a deleted file carries a nested group.
    ASSERT_TRUE(ParseFrameLine("  1234 main (/tmp/a.out (deleted))", frame));
    EXPECT_EQ(frame.symbol, "main");
    EXPECT_EQ(frame.dso, "/tmp/a.out (deleted)");

    ASSERT_TRUE(ParseFrameLine("               0 [unknown] ([unknown])", frame));
    EXPECT_EQ(frame.address, 0u);
    EXPECT_EQ(frame.symbol, "[unknown]");
    EXPECT_EQ(frame.dso, "[unknown]");

    // Missing symbol and DSO read as unknown; a "+0x" that is not hex stays in the name.
    ASSERT_TRUE(ParseFrameLine("  0x7f00", frame));
    EXPECT_EQ(frame.address, 0x7f00u);
    EXPECT_EQ(frame.symbol, "[unknown]");
    EXPECT_EQ(frame.dso, "[unknown]");
    ASSERT_TRUE(ParseFrameLine("  10 operator+0xzz (/bin/x)", frame));
    EXPECT_EQ(frame.symbol, "operator+0xzz");
    EXPECT_FALSE(frame.hasSymbolOffset);

    for (const char* bad :
         {"", "   ", "  xyz main (/bin/x)", "  12345678901234567 main (/bin/x)", "  -1 f (/x)"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(ParseFrameLine(bad, frame));
    }
}

TEST(PerfScriptFields, SchedSwitchArgumentsInBothForms)
{
    PerfSchedSwitch keyed;
    ASSERT_TRUE(
        ParseSchedSwitchArguments("prev_comm=Web Content prev_pid=7574 prev_prio=120 prev_state=D|K ==> "
                                  "next_comm=swapper/1 next_pid=0 next_prio=120",
                                  keyed));
    EXPECT_EQ(keyed.prevComm, "Web Content");
    EXPECT_EQ(keyed.prevPid, 7574);
    EXPECT_EQ(keyed.prevPrio, 120);
    EXPECT_EQ(keyed.prevState, "D|K");
    EXPECT_EQ(keyed.nextComm, "swapper/1");
    EXPECT_EQ(keyed.nextPid, 0);
    EXPECT_EQ(keyed.nextPrio, 120);

    PerfSchedSwitch compact;
    ASSERT_TRUE(ParseSchedSwitchArguments("kworker/0:1:12 [120] R+ ==> perf:1234 [100]", compact));
    EXPECT_EQ(compact.prevComm, "kworker/0:1");
    EXPECT_EQ(compact.prevPid, 12);
    EXPECT_EQ(compact.prevState, "R+");
    EXPECT_EQ(compact.nextComm, "perf");
    EXPECT_EQ(compact.nextPid, 1234);
    EXPECT_EQ(compact.nextPrio, 100);

    PerfSchedSwitch bad;
    for (const char* text :
         {"", "prev_comm=a prev_pid=x prev_prio=1 prev_state=S ==> next_comm=b next_pid=2 next_prio=3",
          "prev_comm=a prev_pid=1 prev_prio=1 prev_state=S next_comm=b next_pid=2 next_prio=3",
          "prev_comm=a prev_pid=1 prev_prio=1 prev_state= ==> next_comm=b next_pid=2 next_prio=3",
          "a:1 [120] ==> b:2 [120]", "a:1 [120] S ==> b:x [120]"}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(ParseSchedSwitchArguments(text, bad));
    }
}

TEST(PerfScriptFields, TaskAndMmapRecords)
{
    ETaskRecordKind kind = ETaskRecordKind::Other;
    PerfTaskEvent task;
    PerfMmapEvent mmap;

    ASSERT_TRUE(ParseTaskRecord("PERF_RECORD_COMM exec: demo:24350/24350", kind, task, mmap));
    EXPECT_EQ(kind, ETaskRecordKind::Comm);
    EXPECT_TRUE(task.isExec);
    EXPECT_EQ(task.newComm, "demo");
    EXPECT_EQ(task.pid, 24350);
    ASSERT_TRUE(ParseTaskRecord("PERF_RECORD_COMM: Web Content:a:100/101", kind, task, mmap));
    EXPECT_FALSE(task.isExec);
    EXPECT_EQ(task.newComm, "Web Content:a");
    EXPECT_EQ(task.tid, 101);

    ASSERT_TRUE(ParseTaskRecord("PERF_RECORD_FORK(7570:7572):(7570:7570)", kind, task, mmap));
    EXPECT_EQ(kind, ETaskRecordKind::Fork);
    EXPECT_EQ(task.kind, EPerfTaskEventKind::Fork);
    EXPECT_EQ(task.tid, 7572);
    EXPECT_EQ(task.parentTid, 7570);
    ASSERT_TRUE(ParseTaskRecord("PERF_RECORD_EXIT(7570:7577):(7568:7568)", kind, task, mmap));
    EXPECT_EQ(task.kind, EPerfTaskEventKind::Exit);
    EXPECT_EQ(task.parentPid, 7568);

    ASSERT_TRUE(
        ParseTaskRecord("PERF_RECORD_MMAP2 7570/7570: [0x55a6daa92000(0x2000) @ 0x2000 fe:00 10953015 "
                        "1572651590]: r-xp /tmp/my demo",
                        kind, task, mmap));
    EXPECT_EQ(kind, ETaskRecordKind::Mmap);
    EXPECT_EQ(mmap.start, 0x55a6daa92000u);
    EXPECT_EQ(mmap.length, 0x2000u);
    EXPECT_EQ(mmap.pageOffset, 0x2000u);
    EXPECT_EQ(mmap.protection, "r-xp");
    EXPECT_EQ(mmap.fileName, "/tmp/my demo");
    ASSERT_TRUE(
        ParseTaskRecord("PERF_RECORD_MMAP -1/0: [0xffffffff81000000(0x1259b00) @ 0xffffffff81000000]: x "
                        "[kernel.kallsyms]_text",
                        kind, task, mmap));
    EXPECT_EQ(mmap.pid, -1);
    EXPECT_EQ(mmap.pageOffset, 0xffffffff81000000u);
    EXPECT_EQ(mmap.fileName, "[kernel.kallsyms]_text");
    ASSERT_TRUE(ParseTaskRecord("PERF_RECORD_MMAP 1/1: [0x400000(0x1000) @ 0]: x /bin/ls", kind, task, mmap));
    EXPECT_EQ(mmap.fileName, "/bin/ls");

    ASSERT_TRUE(ParseTaskRecord("PERF_RECORD_LOST_SAMPLES: 12", kind, task, mmap));
    EXPECT_EQ(kind, ETaskRecordKind::Other);

    for (const char* bad : {"PERF_RECORD_COMM demo:1/1", "PERF_RECORD_COMM: demo", "PERF_RECORD_FORK(1:2)",
                            "PERF_RECORD_EXIT(1:2):(3:x)", "PERF_RECORD_MMAP2 1/1: [0x10(0x20)]: r-xp /a",
                            "PERF_RECORD_MMAP2 1/1: 0x10(0x20) @ 0 1:2 3 4]: r-xp /a"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(ParseTaskRecord(bad, kind, task, mmap));
    }
}

} // namespace
