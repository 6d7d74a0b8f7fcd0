#include "Importers/PerfScriptParser.h"
#include "Importers/PerfScriptReader.h"
#include "Importers/PerfWaitReasonMapper.h"
#include "SharedRecordings.h"
#include "Support/Paths.h"

#include "Support/TempDirectory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>
#include <zlib.h>

namespace {

using namespace Profiler;
using testing::HasSubstr;

/// Every record as one line of text, so whole streams compare with one EXPECT_EQ.
class RecordingHandler : public IPerfScriptHandler {
public:
    void OnSample(const PerfSample& sample) override { records.push_back("sample " + Describe(sample)); }
    void OnSchedSwitch(const PerfSchedSwitch& sw) override
    {
        records.push_back("switch " + std::string(sw.prevComm) + "/" + std::to_string(sw.prevPid) + " " +
                          std::string(sw.prevState) + " -> " + std::string(sw.nextComm) + "/" +
                          std::to_string(sw.nextPid) + " " + Describe(sw.sample));
    }
    void OnTaskEvent(const PerfTaskEvent& task) override
    {
        const char* kinds[] = {"comm", "fork", "exit", "in", "out"};
        records.push_back(std::string(kinds[static_cast<int>(task.kind)]) + " " + std::to_string(task.pid) +
                          "/" + std::to_string(task.tid) + " " + std::string(task.newComm) + " @" +
                          std::to_string(task.header.lineNumber));
    }
    void OnMmapEvent(const PerfMmapEvent& mmap) override
    {
        records.push_back("mmap " + std::string(mmap.fileName));
    }

    static std::string Describe(const PerfSample& sample)
    {
        const PerfRecordHeader& header = sample.header;
        std::string text = std::string(header.comm) + " " + (header.pid ? std::to_string(*header.pid) : "?") +
                           "/" + (header.tid <= kUnnamedThreadIdBase ? "?" : std::to_string(header.tid)) +
                           " " + std::string(sample.eventName) + " @" + std::to_string(header.lineNumber) +
                           " [";
        for (const PerfFrame& frame : sample.frames)
            text += std::string(frame.symbol) + ";";
        return text + "]" + (sample.framesTruncated ? " truncated" : "");
    }

    std::vector<std::string> records;
};

/// A text parsed in one go.
struct ParsedText {
    explicit ParsedText(std::string_view text, std::size_t chunkSize = 0)
    {
        if (chunkSize == 0)
            chunkSize = text.size() + 1;
        for (std::size_t at = 0; at < text.size(); at += chunkSize)
            parser.Feed(text.substr(at, chunkSize));
        parser.Finish();
    }
    const std::vector<std::string>& Records() const { return handler.records; }
    const PerfScriptParseError& FirstError() const { return *parser.GetFirstError(); }

    RecordingHandler handler;
    PerfScriptParser parser{handler};
};

constexpr std::string_view kWellFormed =
    "# comment lines are skipped\n"
    "demo 10/10  1.000000: PERF_RECORD_COMM exec: demo:10/10\n"
    "demo 10/10  1.000100:  1000000 cpu-clock: \n"
    "\t  1130 inner+0x10 (/tmp/demo)\n"
    "\t  1200 outer+0x4 (/tmp/demo)\n"
    "\n"
    "demo 10/11  1.000200: PERF_RECORD_FORK(10:11):(10:10)\n"
    "worker 10/11  1.000300:  1 sched:sched_switch: prev_comm=worker "
    "prev_pid=11 prev_prio=120 prev_state=S ==> next_comm=demo next_pid=10 "
    "next_prio=120\n"
    "\tffffffff82248208 __schedule+0x628 ([kernel.kallsyms])\n"
    "\t  8612b __lll_lock_wait+0x2b (/usr/lib/libc.so.6)\n"
    "\n"
    "demo 10/10  1.000400: PERF_RECORD_MMAP2 10/10: [0x5500(0x2000) @ 0x2000 "
    "fe:00 1 2]: r-xp /tmp/demo\n"
    "demo 10/10  1.000500:  1000000 cpu-clock: \n"
    "\n"
    "worker 10/11  1.000600: PERF_RECORD_EXIT(10:11):(10:10)\n";

TEST(PerfScriptParser, DeliversRecordsInInputOrderWhateverTheChunksAndLineEnds)
{
    ParsedText parsed(kWellFormed);
    EXPECT_THAT(parsed.Records(),
                testing::ElementsAre(
                    "comm 10/10 demo @2", "sample demo 10/10 cpu-clock @3 [inner;outer;]", "fork 10/11  @7",
                    "switch worker/11 S -> demo/10 worker 10/11 sched:sched_switch @8 "
                    "[__schedule;__lll_lock_wait;]",
                    "mmap /tmp/demo", "sample demo 10/10 cpu-clock @13 []", "exit 10/11  @15"));
    EXPECT_FALSE(parsed.parser.GetFirstError().has_value());
    const PerfScriptParseStats& stats = parsed.parser.GetStats();
    EXPECT_EQ(stats.lines, 15u);
    EXPECT_EQ(stats.bytes, kWellFormed.size());
    EXPECT_EQ(stats.samples, 2u);
    EXPECT_EQ(stats.schedSwitches, 1u);
    EXPECT_EQ(stats.taskEvents, 3u);
    EXPECT_EQ(stats.mmapEvents, 1u);

    // Chunk boundaries and line endings do not matter.
    const std::vector<std::string> whole = parsed.Records();
    for (std::size_t chunk : {1u, 2u, 7u, 64u})
        EXPECT_EQ(ParsedText(kWellFormed, chunk).Records(), whole) << "chunks of " << chunk;
    std::string crlf;
    for (char c : kWellFormed)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_EQ(ParsedText(crlf).Records(), whole);
}

TEST(PerfScriptParser, BadLinesDropTheirRecordAndTheFirstOneIsReported)
{
    using namespace std::string_literals;
    const std::string text =
        "a 1/1 1.0: 5 ev: \n"
        "\t10 f (/x)\n"
        "\tnot a frame\n" // line 3: the whole record goes
        "\t20 g (/x)\n"
        "\n"
        "garbage that is no header\n" // line 6, and its frames are passed over
        "\t30 h (/x)\n"
        "\n"
        "\t40 orphan (/x)\n" // a frame outside any record
        "b 2/2 2.0: 5 ev: \n"
        "\t50 kept (/x)\n"
        "c 3/3 3.0: 5 ev: prev\n" // a missing blank line ends a record at the next header
        "\n"
        "d 4/4 4.0: 1 sched:sched_switch: prev_comm=d prev_pid=4\n"
        "\t60 dropped (/x)\n"
        "\n"
        "e 5/5 5.0: PERF_RECORD_FORK(5:6)\n"
        "\x01\x02\xff binary\x00junk\n"s;
    ParsedText parsed(text);
    EXPECT_THAT(parsed.Records(),
                testing::ElementsAre("sample b 2/2 ev @10 [kept;]", "sample c 3/3 ev @12 []"));
    EXPECT_EQ(parsed.FirstError().lineNumber, 3u);
    EXPECT_EQ(parsed.FirstError().message, "not a stack frame: \"\tnot a frame\"");
    EXPECT_EQ(parsed.parser.GetStats().badLines, 6u);
    EXPECT_EQ(parsed.parser.GetStats().droppedRecords, 1u);
    EXPECT_EQ(PerfScriptReader::DescribeProblems(parsed.parser),
              "line 3: not a stack frame: \"\tnot a frame\" (and 5 more bad lines); 1 records left out");
}

TEST(PerfScriptParser, AnUnterminatedLastRecordIsLeftOut)
{
    // Cut in the middle of a frame line, and cut right after one: neither stack can be trusted.
    const std::pair<std::string_view, uint64_t> cases[] = {
        {"a 1/1 1.0: 5 ev: \n\t10 f (/x)\n\na 1/1 2.0: 5 ev: \n\t10 f (/x)\n\t20 g (/", 6},
        {"a 1/1 1.0: 5 ev: \n\t10 f (/x)\n\na 1/1 2.0: 5 ev: \n\t10 f (/x)\n", 5},
    };
    for (const auto& [text, lastLine] : cases) {
        ParsedText parsed(text);
        EXPECT_THAT(parsed.Records(), testing::ElementsAre("sample a 1/1 ev @1 [f;]"));
        EXPECT_EQ(parsed.FirstError().lineNumber, lastLine);
        EXPECT_THAT(parsed.FirstError().message, HasSubstr("ends inside a record"));
        EXPECT_EQ(parsed.parser.GetStats().droppedRecords, 1u);
    }
    // A last task record needs no blank line.
    ParsedText task("a 1/1 1.0: PERF_RECORD_EXIT(1:1):(0:0)");
    EXPECT_THAT(task.Records(), testing::ElementsAre("exit 1/1  @1"));
    EXPECT_FALSE(task.parser.GetFirstError().has_value());
}

TEST(PerfScriptParser, MemoryStaysBoundedOnHugeLinesAndStacks)
{
    std::string text =
        "a 1/1 1.0: 5 ev: \n\t10 " + std::string(PerfScriptParser::kMaxLineLength, 'x') + " (/x)\n\n";
    text += "b 2/2 2.0: 5 ev: \n";
    for (std::size_t i = 0; i < PerfScriptParser::kMaxFrames + 10; ++i)
        text += "\t" + std::to_string(i) + " f" + std::to_string(i) + " (/x)\n";
    text += "\n";

    // Whole lines inside one chunk, and lines that span many chunks, end the same way.
    for (std::size_t chunk : {std::size_t(0), std::size_t(4096)}) {
        ParsedText parsed(text, chunk);
        ASSERT_EQ(parsed.Records().size(), 1u);
        EXPECT_THAT(parsed.Records()[0], HasSubstr(";f511;] truncated")); // the innermost frames stay
        EXPECT_EQ(parsed.FirstError().lineNumber, 2u);
        EXPECT_THAT(parsed.FirstError().message, HasSubstr("longer than the limit"));
        EXPECT_EQ(parsed.parser.GetStats().truncatedStacks, 1u);
        EXPECT_EQ(parsed.parser.GetStats().droppedRecords, 1u);
        EXPECT_EQ(parsed.parser.GetStats().lines, 4u + PerfScriptParser::kMaxFrames + 10u + 1u);
    }
}

TEST(PerfScriptParser, OptionalFieldShapes)
{
    // Without call graphs the sampled address sits on the header line; -F +srcline adds source
    // lines under the frames.
    ParsedText parsed("a 1/1 1.0: 5 cycles:  ffffffff8104f45a native_write_msr+0x5 ([kernel.kallsyms])\n\n"
                      "b 1/1 1.0: 1 sys_enter: fd: 3, count: 4\n\n"
                      "c 1/1 1.0: 5 cycles: \n\t10 f (/x)\n  f.c:12\n\t20 g (/x)\n  ??:0\n\n");
    EXPECT_THAT(parsed.Records(),
                testing::ElementsAre("sample a 1/1 cycles @1 [native_write_msr;]",
                                     "sample b 1/1 sys_enter @3 []", "sample c 1/1 cycles @5 [f;g;]"));
    EXPECT_FALSE(parsed.parser.GetFirstError().has_value());
}

std::filesystem::path Fixture(const char* name)
{
    return std::filesystem::path(QX_IMPORTERS_TEST_DATA) / name;
}

/// A real recording of the demo program (0.3 s, frame pointers, context switches) made on
/// Linux 6.18 with perf 6.1 by the recorder's own command lines.
class DemoRecordingHandler : public IPerfScriptHandler {
public:
    void OnSample(const PerfSample& sample) override
    {
        ++samplesByEvent[std::string(sample.eventName)];
        EXPECT_TRUE(sample.period.has_value());
        EXPECT_TRUE(sample.header.pid.has_value());
    }
    void OnSchedSwitch(const PerfSchedSwitch& sw) override
    {
        waitsByThread[std::string(sw.prevComm)]
                     [PerfWaitReasonMapper::Classify(sw.prevState, sw.sample.frames)]++;
    }
    void OnTaskEvent(const PerfTaskEvent& task) override
    {
        if (task.kind == EPerfTaskEventKind::Comm)
            names.push_back(std::string(task.newComm));
    }

    std::map<std::string, uint64_t> samplesByEvent;
    std::map<std::string, std::map<EPerfWaitKind, int>> waitsByThread;
    std::vector<std::string> names;
};

TEST(PerfScriptParser, RealDemoRecording)
{
    DemoRecordingHandler handler;
    PerfScriptParser parser(handler);
    Serialization::ErrorList errors;
    ASSERT_TRUE(PerfScriptReader::Read(Fixture("demo-small.txt.gz").string(), parser, errors))
        << errors.ToString();
    EXPECT_EQ(PerfScriptReader::DescribeProblems(parser), "");
    EXPECT_EQ(parser.GetStats().mmapEvents, 8u);
    EXPECT_EQ(parser.GetStats().otherRecords, 0u);
    EXPECT_THAT(handler.samplesByEvent, testing::ElementsAre(testing::Pair("cpu-clock", 138u)));
    EXPECT_THAT(handler.names, testing::ElementsAre("perf-exec", "demo", "compute", "fileio", "sleeper",
                                                    "locker-1", "locker-2", "locker-3"));

    // Each thread's work shows in the way it waits.
    auto waits = [&](const char* thread) { return handler.waitsByThread[thread]; };
    EXPECT_THAT(waits("compute"),
                testing::ElementsAre(testing::Pair(EPerfWaitKind::Preemption, testing::Gt(0))));
    EXPECT_GT(waits("fileio")[EPerfWaitKind::IO], 30);
    EXPECT_GT(waits("sleeper")[EPerfWaitKind::Sleep], 10);
    EXPECT_EQ(waits("sleeper")[EPerfWaitKind::Synchronization], 0);
    for (const char* locker : {"locker-1", "locker-2", "locker-3"})
        EXPECT_GT(waits(locker)[EPerfWaitKind::Synchronization], 10) << locker;
}

TEST(PerfScriptReader, PlainGzipTruncatedAndMissingInputs)
{
    TestSupport::TempDirectory directory;
    std::string text;
    for (int i = 0; i < 50; ++i)
        text += kWellFormed;
    TestSupport::WriteFile(directory / "plain.txt", text);
    const std::string gzipPath = (directory / "packed.txt.gz").string();
    gzFile packed = gzopen(gzipPath.c_str(), "wb");
    ASSERT_NE(packed, nullptr);
    ASSERT_EQ(gzwrite(packed, text.data(), static_cast<unsigned>(text.size())),
              static_cast<int>(text.size()));
    ASSERT_EQ(gzclose(packed), Z_OK);

    const std::vector<std::string> expected = ParsedText(text).Records();
    for (const std::string& path : {(directory / "plain.txt").string(), gzipPath}) {
        RecordingHandler handler;
        PerfScriptParser parser(handler);
        Serialization::ErrorList errors;
        EXPECT_TRUE(PerfScriptReader::Read(path, parser, errors)) << errors.ToString();
        EXPECT_EQ(handler.records, expected) << path;
    }

    // A compressed file cut short: what was decompressed still comes out, and the read fails.
    const std::string packedBytes = TestSupport::ReadFile(gzipPath);
    TestSupport::WriteFile(directory / "cut.txt.gz", packedBytes.substr(0, packedBytes.size() - 12));
    RecordingHandler cutHandler;
    PerfScriptParser cutParser(cutHandler);
    Serialization::ErrorList cutErrors;
    EXPECT_FALSE(PerfScriptReader::Read((directory / "cut.txt.gz").string(), cutParser, cutErrors));
    EXPECT_THAT(cutErrors.ToString(), HasSubstr("Unable to read"));
    EXPECT_GT(cutHandler.records.size(), expected.size() / 2);
    EXPECT_LT(cutHandler.records.size(), expected.size());

    RecordingHandler missingHandler;
    PerfScriptParser missingParser(missingHandler);
    Serialization::ErrorList missingErrors;
    EXPECT_FALSE(PerfScriptReader::Read((directory / "none.txt").string(), missingParser, missingErrors));
    EXPECT_THAT(missingErrors.ToString(), HasSubstr("Unable to open"));
    EXPECT_THAT(missingErrors.ToString(), HasSubstr("No such file or directory"));
}

// Every `-F` field subset that users ask for, as perf 6.1 prints it.
constexpr std::string_view kEveryForm =
    // -F comm,pid,tid,time,ip,sym,dso: no event name.
    "xz 17729/17729   595.260318: \n"
    "\t  150af handle_intel.constprop.0 (/usr/lib/ld.so)\n"
    "\t      0 [unknown] ([unknown])\n"
    "\n"
    // -F comm,tid,ip,sym: no time and no DSO.
    "xz 17730 \n"
    "\t  150af handle_intel\n"
    "\n"
    // Older perf: frames without indentation.
    "dd 29776 666709.771979: 10101010 cpu-clock:\n"
    "ffffffff8104f45a native_write_msr ([kernel.kallsyms])\n"
    "7f00 main (/bin/dd)\n"
    "\n"
    // Inlined frames, a DSO path with blanks, an empty symbol (two blanks), a command name
    // with blanks and digits.
    "Thread 2 12345 619.591692:     250000          cpu-clock: \n"
    "\t  153e0 update_active+0x270 (inlined)\n"
    "\t  91fdb [unknown] (/memfd:sealed-91173221a7ea (deleted))\n"
    "\t7f1e2215d058  (/lib/libc-2.15.so)\n"
    "\n"
    // A caller printed before and after the functions inlined at its address: one frame.
    "locker 1/2 3.0: 1000 cpu-clock:\n"
    "\t  2401 UpdateSharedState+0xf (/demo)\n"
    "\t  2401 std::mutex::lock+0xf (inlined)\n"
    "\t  2401 UpdateSharedState+0xf (/demo)\n"
    "\t  2d59 LockWorker+0x20c (/demo)\n"
    "\n"
    // perf's own switch records.
    "sleep 10881/10881   313.873565: PERF_RECORD_SWITCH OUT preempt\n"
    "sleep 10881/10881   313.892055: PERF_RECORD_SWITCH IN         \n"
    "swapper     0 [001] 10.0: PERF_RECORD_SWITCH_CPU_WIDE OUT preempt  next pid/tid:  1234/1235\n"
    // Without call graphs: one line per sample, right-aligned, no blank lines, and the last
    // one ends the input.
    "              xz  2879  4066.869662:     250000 cpu-clock:      7f91fcec64a2 init_cpu_features+0xe12 "
    "(/usr/lib/ld.so)\n"
    "              xz  2879  4066.869912:     250000 cpu-clock:      7f91fcec6000 _dl_start (/usr/lib/ld.so)";

// Texts whose headers lack the thread id or every field, and other options' output, as perf 6.1
// prints them; each text is read on its own, since one text's headers all have the same fields.
constexpr std::pair<std::string_view, std::string_view> kUnfieldedForms[] = {
    {// -F +insn: the instruction after the stack and no blank line, also after the last record;
     // --show-round-events; a stack that perf found empty, last and without a blank line.
     "xz  5069 1.0: cpu-clock: \n\t  19ef7 [unknown] (/usr/lib/liblzma.so.5)\n insn: 4c 8d 0c b6\n"
     "PERF_RECORD_FINISHED_ROUND\n"
     "xz  5069 1.1: cpu-clock: \n\t  19eff f (/usr/lib/liblzma.so.5)\n insn: 4c\n"
     "xz  5069 1.2: cpu-clock: \n",
     "sample xz ?/5069 cpu-clock @1 [[unknown];]|sample xz ?/5069 cpu-clock @5 [f;]|"
     "sample xz ?/5069 cpu-clock @8 []"},
    {// -F -event: a context switch told by its fields; --full-source-path -F +srcline.
     "sh 14952 [000] 5.0: prev_comm=sh prev_pid=14952 prev_prio=120 prev_state=S ==> next_comm=xz "
     "next_pid=1 next_prio=120\n\tffffffff81 __schedule ([kernel.kallsyms])\n  :0\n"
     "\t  d3bd3 __GI___wait4+0x13 (/usr/lib/libc.so.6)\n  ./io/../sysdeps/unix/sysv/linux/wait4.c:30 "
     "(inlined)\n\n",
     "switch sh/14952 S -> xz/1 sh ?/14952  @1 [__schedule;__GI___wait4;]"},
    {// -F tid,time,ip,sym: no command name, the thread id right-aligned.
     " 5067 19194.656924: \n\t  14f38 intel_check_word\n\t  1e00000000 [unknown]\n\n"
     " 5069 19194.658168: \n\tffffffff813eb7f0 up_read\n\n",
     "sample  ?/5067  @1 [intel_check_word;[unknown];]|sample  ?/5069  @5 [up_read;]"},
    {// -F time,event,ip,sym,dso: no thread at all.
     "19194.656924: cpu-clock: \n\t  14f38 intel_check_word (/usr/lib/ld.so)\n\n",
     "sample  ?/? cpu-clock @1 [intel_check_word;]"},
    {// -F ip,sym: an empty header line before each stack.
     "\n\t  14f38 intel_check_word\n\t  1e00000000 [unknown]\n\n\n\t   89f0 [unknown]\n\n",
     "sample  ?/?  @2 [intel_check_word;[unknown];]|sample  ?/?  @6 [[unknown];]"},
    {// The same with --show-task-events: task records print their own fields.
     "PERF_RECORD_COMM: perf-exec:5547/5547\nPERF_RECORD_COMM exec: sh:5547/5547\n\n\t  14f38 f\n\t   1e00 "
     "[unknown]\n\n\n\t   ff89 g\n\n",
     "comm 5547/5547 perf-exec @1|comm 5547/5547 sh @2|sample  ?/?  @4 [f;[unknown];]|sample  ?/?  @8 [g;]"},
    {// -F comm,ip,sym: the command name alone.
     "sh \n\t  14f38 intel_check_word\n\nxz \n\tffffffff813eb7f0 up_read\n\n",
     "sample sh ?/?  @1 [intel_check_word;]|sample xz ?/?  @4 [up_read;]"},
    {// Without call graphs, -F ip,sym and -F comm,ip,sym: one line per sample ("dd" is a name).
     "     7fe136b34f02 intel_check_word\n ffffffff82243b17 exc_page_fault\n",
     "sample  ?/?  @1 [intel_check_word;]|sample  ?/?  @2 [exc_page_fault;]"},
    {"              sh      7fe136b34f02 intel_check_word\n              dd  ffffffff82243b17 "
     "exc_page_fault\n",
     "sample sh ?/?  @1 [intel_check_word;]|sample dd ?/?  @2 [exc_page_fault;]"},
    {// -F +misc, and -F +srcline where the binary has no line table.
     "sh  5067/5067  U     19194.656924: \n\t   89f0 [unknown] (/usr/bin/dash)\n  dash[89f0]\n\n",
     "sample sh 5067/5067  @1 [[unknown];]"},
    {// -F +addr: the data address before the sampled one; with call graphs, the stack follows.
     "    sh  5541 19284.718063: cpu-clock:                0     7fe136b34f02 intel_check_word "
     "(/usr/lib/ld.so)\n"
     "    sh  5541 19284.718560: cpu-clock:     7ffd00001000\n\t   89f0 main (/usr/bin/dash)\n\n",
     "sample sh ?/5541 cpu-clock @1 [intel_check_word;]|sample sh ?/5541 cpu-clock @2 [main;]"},
    {// Once a header has shown that the text has no thread ids, names with digits stay whole.
     "main 1.4: cycles: \n\t 10 f (/x)\n\nThread 2 1.5: cycles: \n\t 10 f (/x)\n\n",
     "sample main ?/? cycles @1 [f;]|sample Thread 2 ?/? cycles @4 [f;]"},
};

TEST(PerfScriptParserForms, TextsWithoutThreadIdsOrAnyHeaderField)
{
    for (const auto& [text, expected] : kUnfieldedForms) {
        const ParsedText parsed(text);
        std::string records;
        for (const std::string& record : parsed.Records())
            records += (records.empty() ? "" : "|") + record;
        EXPECT_EQ(records, expected) << text;
        EXPECT_FALSE(parsed.parser.GetFirstError().has_value())
            << text << PerfScriptReader::DescribeProblems(parsed.parser);
    }
    // Prose is no such text: lines that no stack follows are bad lines, not samples.
    const ParsedText prose("This is not\nperf script text\n\n  but indented words\n");
    EXPECT_TRUE(prose.Records().empty());
    EXPECT_EQ(prose.parser.GetStats().badLines, 3u);
    EXPECT_EQ(prose.FirstError().lineNumber, 1u);
    // Once headers have shown fields, a bare name or a stack without a header is an error again.
    const ParsedText mixed("a 1/1 1.0: \n\t10 f (/x)\n\n\n\t20 g (/x)\n\nb \n\t30 h (/x)\n\n");
    EXPECT_EQ(mixed.Records().size(), 1u);
    EXPECT_EQ(mixed.FirstError().lineNumber, 5u);
}

TEST(PerfScriptParser, WritesFuzzSeeds)
{
    const std::filesystem::path directory = TestSupport::FuzzCorpusDirectory("PerfScriptParserFuzzer");
    TestSupport::WriteFile(directory / "well-formed.txt", std::string(kWellFormed));
    TestSupport::WriteFile(
        directory / "compact-switch.txt",
        "a 1 [000] 1.5: sched:sched_switch: a:1 [120] D ==> b:2 [120]\n\tffff81 io_schedule "
        "([kernel.kallsyms])\n\n");
    TestSupport::WriteFile(directory / "no-times.txt",
                           "node 31912 cpu-clock: \n\t13a8 RegExp:[&<>\"'] (/tmp/perf-7.map)\n"
                           "\tdd7 A->B(int) (/tmp/node)\n\n");
    // The start of the real recording: headers, mmaps, task events and deep kernel stacks.
    gzFile file = gzopen(Fixture("demo-small.txt.gz").c_str(), "rb");
    ASSERT_NE(file, nullptr);
    std::string head(16 * 1024, '\0');
    int count = gzread(file, head.data(), static_cast<unsigned>(head.size()));
    gzclose(file);
    ASSERT_GT(count, 0);
    head.resize(static_cast<std::size_t>(count));
    TestSupport::WriteFile(directory / "demo-head.txt", head);
    TestSupport::WriteFile(directory / "every-form.txt", std::string(kEveryForm));
    for (std::size_t i = 0; i < std::size(kUnfieldedForms); ++i)
        TestSupport::WriteFile(directory / ("unfielded-" + std::to_string(i) + ".txt"),
                               std::string(kUnfieldedForms[i].first));
    for (const char* recording : {"linux-xz-noevent", "linux-gcc-dwarf-inline", "linux-systemwide-memfd"})
        TestSupport::WriteFile(
            directory / (std::string(recording) + "-head.txt"),
            SharedRecordings::ReadText(SharedRecordings::Recording(recording)).substr(0, 8 * 1024));
}

// Every `-F` field subset that users ask for, as perf 6.1 prints it; each record comes out whole.
TEST(PerfScriptParserForms, EveryFieldCombinationGivesItsRecords)
{
    const ParsedText parsed(kEveryForm);
    EXPECT_THAT(parsed.Records(),
                testing::ElementsAre("sample xz 17729/17729  @1 [handle_intel.constprop.0;[unknown];]",
                                     "sample xz ?/17730  @5 [handle_intel;]",
                                     "sample dd ?/29776 cpu-clock @8 [native_write_msr;main;]",
                                     "sample Thread 2 ?/12345 cpu-clock @12 [update_active;[unknown];;]",
                                     "sample locker 1/2 cpu-clock @17 [std::mutex::lock;UpdateSharedState;LockWorker;]",
                                     "out 10881/10881  @23", "in 10881/10881  @24", "out 0/0  @25",
                                     "sample xz ?/2879 cpu-clock @26 [init_cpu_features;]",
                                     "sample xz ?/2879 cpu-clock @27 [_dl_start;]"));
    EXPECT_FALSE(parsed.parser.GetFirstError().has_value())
        << PerfScriptReader::DescribeProblems(parsed.parser);
}

} // namespace
