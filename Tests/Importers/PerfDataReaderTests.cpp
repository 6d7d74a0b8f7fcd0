#include "Importers/PerfDataReader.h"
#include "Support/ErrorAssertions.h"
#include "Support/Paths.h"
#include "Support/TempDirectory.h"

#include "../SymbolResolution/TestPrograms.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

using namespace Profiler;
using ::testing::ElementsAre;

namespace {

// perf.data files written by the test, field by field, so that every record kind, the time
// order of rounds and damaged files can be checked without perf.

constexpr uint64_t kIp = 1u << 0, kTid = 1u << 1, kTime = 1u << 2, kCallchain = 1u << 5, kCpu = 1u << 7,
                   kPeriod = 1u << 8, kRaw = 1u << 10, kIdentifier = 1u << 16;
constexpr uint64_t kClockType = kIp | kTid | kTime | kCallchain | kPeriod | kIdentifier;
constexpr uint64_t kSwitchType = kIp | kTid | kTime | kCallchain | kCpu | kPeriod | kRaw | kIdentifier;
constexpr uint64_t kClockId = 11, kSwitchId = 22;
constexpr uint64_t kKernelMarker = static_cast<uint64_t>(-128), kUserMarker = static_cast<uint64_t>(-512);

constexpr const char* kSchedSwitchFormat =
    "name: sched_switch\nID: 300\nformat:\n"
    "\tfield:unsigned short common_type;\toffset:0;\tsize:2;\tsigned:0;\n"
    "\tfield:char prev_comm[16];\toffset:8;\tsize:16;\tsigned:0;\n"
    "\tfield:pid_t prev_pid;\toffset:24;\tsize:4;\tsigned:1;\n"
    "\tfield:int prev_prio;\toffset:28;\tsize:4;\tsigned:1;\n"
    "\tfield:long prev_state;\toffset:32;\tsize:8;\tsigned:1;\n"
    "\tfield:char next_comm[16];\toffset:40;\tsize:16;\tsigned:0;\n"
    "\tfield:pid_t next_pid;\toffset:56;\tsize:4;\tsigned:1;\n"
    "\tfield:int next_prio;\toffset:60;\tsize:4;\tsigned:1;\n\n"
    "print fmt: \"prev_comm=%s prev_pid=%d prev_prio=%d prev_state=%s%s ==> next_comm=%s next_pid=%d "
    "next_prio=%d\", REC->prev_comm, REC->prev_pid, REC->prev_prio, (REC->prev_state & ((((0x00000000 | "
    "0x0001 | 0x0002) + 1) << 1) - 1)) ? __print_flags(REC->prev_state & ((((0x00000000 | 0x0001 | 0x0002) + 1) "
    "<< 1) - 1), \"|\", { 0x0001, \"S\" }, { 0x0002, \"D\" }, { 0x0004, \"I\" }) : \"R\", REC->prev_state & "
    "(((0x00000000 | 0x0001 | 0x0002) + 1) << 1) ? \"+\" : \"\", REC->next_comm, REC->next_pid, REC->next_prio\n";

class Bytes {
public:
    template <typename T>
    Bytes& Put(T value)
    {
        const auto* at = reinterpret_cast<const char*>(&value);
        mData.append(at, sizeof(T));
        return *this;
    }
    Bytes& Text(std::string_view text, std::size_t size)
    {
        std::string padded(text);
        padded.resize(size, '\0');
        mData += padded;
        return *this;
    }
    const std::string& Data() const { return mData; }
    std::size_t Size() const { return mData.size(); }

private:
    std::string mData;
};

/// A record: header, body and the sample_id_all fields (tid, time, identifier).
std::string Record(uint32_t type, uint16_t misc, const Bytes& body, int32_t pid, int32_t tid, uint64_t time,
                   uint64_t id = kClockId)
{
    Bytes record;
    const std::size_t size = 8 + body.Size() + 24;
    record.Put<uint32_t>(type).Put<uint16_t>(misc).Put<uint16_t>(static_cast<uint16_t>(size));
    std::string text = record.Data() + body.Data();
    Bytes trailer;
    trailer.Put<int32_t>(pid).Put<int32_t>(tid).Put<uint64_t>(time).Put<uint64_t>(id);
    return text + trailer.Data();
}

std::string Comm(int32_t pid, int32_t tid, std::string_view name, uint64_t time, bool exec = false)
{
    Bytes body;
    body.Put<int32_t>(pid).Put<int32_t>(tid).Text(name, 16);
    return Record(3, exec ? 1u << 13 : 0, body, pid, tid, time);
}

std::string Mmap2(int32_t pid, uint64_t start, uint64_t length, std::string_view path, uint64_t time)
{
    Bytes body;
    body.Put<int32_t>(pid).Put<int32_t>(pid).Put<uint64_t>(start).Put<uint64_t>(length).Put<uint64_t>(0);
    body.Put<uint32_t>(8).Put<uint32_t>(1).Put<uint64_t>(42).Put<uint64_t>(0); // maj, min, ino, generation
    body.Put<uint32_t>(5).Put<uint32_t>(2);                                  // r-x, private
    body.Text(path, (path.size() + 8) / 8 * 8);
    return Record(10, 2, body, pid, pid, time);
}

std::string Sample(int32_t pid, int32_t tid, uint64_t time, const std::vector<uint64_t>& chain,
                   uint64_t period = 250000)
{
    Bytes body;
    body.Put<uint64_t>(kClockId).Put<uint64_t>(chain.empty() ? 0 : chain.back());
    body.Put<int32_t>(pid).Put<int32_t>(tid).Put<uint64_t>(time).Put<uint64_t>(period).Put<uint64_t>(chain.size());
    for (uint64_t address : chain)
        body.Put<uint64_t>(address);
    Bytes record;
    record.Put<uint32_t>(9).Put<uint16_t>(2).Put<uint16_t>(static_cast<uint16_t>(8 + body.Size()));
    return record.Data() + body.Data();
}

std::string SchedSwitch(int32_t pid, uint64_t time, std::string_view prev, int32_t prevPid, int64_t state,
                        std::string_view next, int32_t nextPid)
{
    Bytes raw;
    raw.Put<uint16_t>(300).Text("", 6).Text(prev, 16).Put<int32_t>(prevPid).Put<int32_t>(120);
    raw.Put<int64_t>(state).Text(next, 16).Put<int32_t>(nextPid).Put<int32_t>(120);
    Bytes body;
    body.Put<uint64_t>(kSwitchId).Put<uint64_t>(0xffffffff81000010ull).Put<int32_t>(pid).Put<int32_t>(prevPid);
    body.Put<uint64_t>(time).Put<uint32_t>(3).Put<uint32_t>(0).Put<uint64_t>(1); // cpu, period
    body.Put<uint64_t>(2).Put<uint64_t>(kKernelMarker).Put<uint64_t>(0xffffffff81000010ull);
    body.Put<uint32_t>(static_cast<uint32_t>(raw.Size() + 4)).Text(raw.Data(), raw.Size() + 4);
    Bytes record;
    record.Put<uint32_t>(9).Put<uint16_t>(1).Put<uint16_t>(static_cast<uint16_t>(8 + body.Size()));
    return record.Data() + body.Data();
}

std::string SwitchOut(int32_t pid, int32_t tid, uint64_t time, bool preempt)
{
    return Record(14, static_cast<uint16_t>((1u << 13) | (preempt ? 1u << 14 : 0)), Bytes(), pid, tid, time);
}

std::string ForkOrExit(uint32_t type, int32_t pid, int32_t ppid, int32_t tid, int32_t ptid, uint64_t time)
{
    Bytes body;
    body.Put<int32_t>(pid).Put<int32_t>(ppid).Put<int32_t>(tid).Put<int32_t>(ptid).Put<uint64_t>(time);
    return Record(type, 0, body, pid, tid, time);
}

std::string FinishedRound()
{
    Bytes record;
    record.Put<uint32_t>(68).Put<uint16_t>(0).Put<uint16_t>(8);
    return record.Data();
}

/// The whole file: header, the clock and sched_switch events with their ids, the records, and
/// the arch, tracing data and event description sections.
std::string PerfData(const std::string& records)
{
    constexpr std::size_t kAttrSize = 128;
    auto attr = [](uint32_t type, uint64_t sampleType) {
        Bytes bytes;
        bytes.Put<uint32_t>(type).Put<uint32_t>(kAttrSize).Put<uint64_t>(0).Put<uint64_t>(4000);
        bytes.Put<uint64_t>(sampleType).Put<uint64_t>(0).Put<uint64_t>(uint64_t{1} << 18); // sample_id_all
        return bytes.Text("", kAttrSize - bytes.Size()).Data();
    };
    const std::string attrs[] = {attr(1, kClockType), attr(2, kSwitchType)};
    const uint64_t ids[] = {kClockId, kSwitchId};
    const std::size_t attrsOffset = 104, idsOffset = attrsOffset + 2 * (kAttrSize + 16);
    const std::size_t dataOffset = idsOffset + 16;
    Bytes file;
    file.Put<uint64_t>(0x32454c4946524550ull).Put<uint64_t>(104).Put<uint64_t>(kAttrSize + 16);
    file.Put<uint64_t>(attrsOffset).Put<uint64_t>(2 * (kAttrSize + 16));
    file.Put<uint64_t>(dataOffset).Put<uint64_t>(records.size()).Put<uint64_t>(0).Put<uint64_t>(0);
    file.Put<uint64_t>((1u << 1) | (1u << 6) | (1u << 12)).Put<uint64_t>(0).Put<uint64_t>(0).Put<uint64_t>(0);
    for (int i = 0; i < 2; ++i)
        file.Text(attrs[i], kAttrSize).Put<uint64_t>(idsOffset + 8 * i).Put<uint64_t>(8);
    file.Put<uint64_t>(ids[0]).Put<uint64_t>(ids[1]);
    std::string text = file.Data() + records;

    Bytes arch;
    arch.Put<uint32_t>(8).Text("x86_64", 8);
    Bytes desc;
    desc.Put<uint32_t>(2).Put<uint32_t>(kAttrSize);
    const char* names[] = {"cpu-clock:pppH", "sched:sched_switch"};
    for (int i = 0; i < 2; ++i)
        desc.Text(attrs[i], kAttrSize).Put<uint32_t>(1).Put<uint32_t>(32).Text(names[i], 32).Put<uint64_t>(ids[i]);
    const std::string sections[] = {kSchedSwitchFormat, arch.Data(), desc.Data()};
    std::size_t at = text.size() + 3 * 16;
    Bytes table;
    for (const std::string& section : sections) {
        table.Put<uint64_t>(at).Put<uint64_t>(section.size());
        at += section.size();
    }
    text += table.Data();
    for (const std::string& section : sections)
        text += section;
    return text;
}

/// Every record handed on, as text.
struct RecordLog : IPerfScriptHandler {
    std::vector<std::string> Lines;
    std::vector<std::vector<std::string>> Stacks;
    void OnSample(const PerfSample& sample) override
    {
        Lines.push_back("sample " + std::string(sample.header.comm) + " " + std::to_string(*sample.header.timeNs) +
                        " " + std::string(sample.eventName));
        std::vector<std::string> stack;
        for (const PerfFrame& frame : sample.frames)
            stack.push_back(std::string(frame.symbol) + "|" + std::string(frame.dso));
        Stacks.push_back(std::move(stack));
    }
    void OnSchedSwitch(const PerfSchedSwitch& record) override
    {
        Lines.push_back("switch " + std::string(record.prevComm) + "/" + std::to_string(record.prevPid) + " " +
                        std::string(record.prevState) + " => " + std::string(record.nextComm) + "/" +
                        std::to_string(record.nextPid) + " cpu " + std::to_string(*record.sample.header.cpu));
    }
    void OnTaskEvent(const PerfTaskEvent& event) override
    {
        static const char* const kKinds[] = {"comm", "fork", "exit", "in", "out"};
        std::string line = std::string(kKinds[static_cast<int>(event.kind)]) + " " + std::to_string(event.pid) + "/" +
                           std::to_string(event.tid) + " " + std::to_string(*event.header.timeNs);
        if (event.kind == EPerfTaskEventKind::Comm)
            line += " " + std::string(event.newComm) + (event.isExec ? " exec" : "");
        if (event.kind == EPerfTaskEventKind::SwitchOut && event.preempted)
            line += " preempt";
        Lines.push_back(line);
    }
    void OnMmapEvent(const PerfMmapEvent& event) override
    {
        Lines.push_back("mmap " + std::to_string(event.pid) + " " + std::string(event.protection) + " " +
                        std::string(event.fileName));
    }
};

struct ReadResult {
    PerfDataReader::EResult Result;
    std::string Reason;
    Serialization::ErrorList Errors;
    PerfScriptParseStats Stats;
};

ReadResult Read(const std::string& bytes, RecordLog& log)
{
    TestSupport::TempDirectory directory;
    const std::string path = (directory / "perf.data").string();
    std::ofstream(path, std::ios::binary) << bytes;
    PerfScriptParser parser(log);
    ReadResult result;
    result.Result = PerfDataReader::Read(path, parser, {}, result.Reason, result.Errors);
    result.Stats = parser.GetStats();
    return result;
}

} // namespace

// Every record kind comes out as perf script would print it, in time order across the rounds
// perf flushed, with frames named from the mapped file's symbols.
TEST(PerfDataReader, HandsOnEveryRecordInTimeOrderWithNamedFrames)
{
    const SymbolTest::Programs& programs = SymbolTest::GetPrograms();
    ASSERT_FALSE(programs.Full.empty());
    const std::string image = programs.Full.string();
    // The program is mapped whole from offset 0, so a file offset is its address in the map;
    // its code lies at the same offsets as its addresses.
    constexpr uint64_t kBase = 0x555500000000ull;
    const uint64_t sum = kBase + SymbolTest::SymbolAddress("Sum") + 2;
    const uint64_t caller = kBase + SymbolTest::SymbolAddress("Caller") + 5;

    const std::string records =
        Comm(100, 100, "app", 5, true) + Mmap2(100, kBase, 0x100000, image, 6) +
        Sample(100, 100, 30, {kKernelMarker, 0xffffffff81001234ull, kUserMarker, sum, caller}) +
        Sample(100, 100, 10, {kUserMarker, 0x7000}) + FinishedRound() +
        ForkOrExit(7, 100, 100, 101, 100, 20) + SwitchOut(100, 101, 25, true) +
        SchedSwitch(100, 40, "app", 101, 2, "swapper/1", 0) + FinishedRound() +
        Sample(100, 101, 50, {kUserMarker, sum, static_cast<uint64_t>(-1), caller}) +
        ForkOrExit(4, 100, 100, 101, 100, 60);
    RecordLog log;
    ReadResult read = Read(PerfData(records), log);
    TestSupport::WriteFile(TestSupport::FuzzCorpusDirectory("PerfDataReaderFuzzer") / "records.data",
                           PerfData(records));
    ASSERT_EQ(read.Result, PerfDataReader::EResult::Read) << read.Reason << read.Errors.ToString();
    EXPECT_THAT(log.Lines, ElementsAre("comm 100/100 5 app exec", "mmap 100 r-xp " + image,
                                       "sample app 10 cpu-clock:pppH", "fork 100/101 20", "out 100/101 25 preempt",
                                       "sample app 30 cpu-clock:pppH", "switch app/101 D => swapper/1/0 cpu 3",
                                       "sample app 50 cpu-clock:pppH", "exit 100/101 60"));
    ASSERT_EQ(log.Stacks.size(), 3u);
    // An address in no mapping, then kernel code without the running kernel's symbols.
    EXPECT_THAT(log.Stacks[0], ElementsAre("[unknown]|[unknown]"));
    EXPECT_THAT(log.Stacks[1], ElementsAre("[unknown]|[kernel.kallsyms]", "Sum|" + image, "Caller|" + image));
    // A marker perf never writes ends the chain; the frames before it stay.
    EXPECT_THAT(log.Stacks[2], ElementsAre("Sum|" + image));
    EXPECT_EQ(read.Stats.samples, 3u);
    EXPECT_EQ(read.Stats.schedSwitches, 1u);
    EXPECT_EQ(read.Stats.switchRecords, 1u);
    EXPECT_EQ(read.Stats.taskEvents, 3u);
    EXPECT_EQ(read.Stats.mmapEvents, 1u);
}

// A cut or damaged file hands on what came before the damage and says what is wrong; a file
// of a form the reader does not take is left to perf script untouched.
TEST(PerfDataReader, DamagedAndUnsupportedFiles)
{
    const std::string records = Comm(100, 100, "app", 5) + Sample(100, 100, 10, {kUserMarker, 0x7000}) +
                                Sample(100, 100, 20, {kUserMarker, 0x7000});
    std::string file = PerfData(records);
    // The last sample's size now runs past the data.
    const std::size_t lastSample = 104 + 2 * 144 + 16 + records.size() - Sample(1, 1, 1, {0, 0}).size();
    file[lastSample + 7] = static_cast<char>(0x7f);
    RecordLog log;
    ReadResult damaged = Read(file, log);
    EXPECT_EQ(damaged.Result, PerfDataReader::EResult::Failed);
    EXPECT_THAT(damaged.Errors.ToString(), ::testing::HasSubstr("damaged"));
    EXPECT_EQ(log.Lines.size(), 2u); // the comm and the first sample

    RecordLog none;
    std::string pipe = PerfData(records);
    pipe[8] = 16; // pipe mode: a 16-byte header
    EXPECT_EQ(Read(pipe, none).Result, PerfDataReader::EResult::Unsupported);
    EXPECT_EQ(Read("PERFILE2 too short", none).Result, PerfDataReader::EResult::Unsupported);
    EXPECT_TRUE(none.Lines.empty());
}
