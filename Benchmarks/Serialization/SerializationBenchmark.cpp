// Writes and reads back binary object files of 1,000,000 small objects, as records held by value
// and as separately owned objects, plus one large array of primitives (copied as one block).
// Each benchmark reports the file's size over the time taken as MB/s.

#include "RTTI/Reflection.h"
#include "Serialization/Binary.h"
#include "Utility/Format.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <unistd.h>

namespace Bench {

struct Record {
    QX_RTTI_STRUCT(Record);
    uint64_t mAddress = 0;
    double mTimeMs = 0;
    int32_t mThread = 0;
    uint8_t mState = 0;
    std::vector<uint32_t> mCounters;
};

class RecordTable : public RTTI::Object {
public:
    QX_RTTI_CLASS(RecordTable);
    std::vector<Record> mRecords;
};

class Node : public RTTI::Object {
public:
    QX_RTTI_CLASS(Node);
    uint64_t mId = 0;
    double mValue = 0;
    std::string mName;
};

class Forest : public RTTI::Object {
public:
    QX_RTTI_CLASS(Forest);
    std::vector<std::unique_ptr<Node>> mNodes;
};

class Samples : public RTTI::Object {
public:
    QX_RTTI_CLASS(Samples);
    std::vector<uint64_t> mValues;
};

} // namespace Bench

QX_RTTI_DEFINE_CLASS(Bench::Record, 1)
{
    type.Property("Address", &Record::mAddress)
        .Property("TimeMs", &Record::mTimeMs)
        .Property("Thread", &Record::mThread)
        .Property("State", &Record::mState)
        .Property("Counters", &Record::mCounters);
}

QX_RTTI_DEFINE_CLASS(Bench::RecordTable, 1)
{
    type.Property("Records", &RecordTable::mRecords);
}

QX_RTTI_DEFINE_CLASS(Bench::Node, 1)
{
    type.Property("Id", &Node::mId).Property("Value", &Node::mValue).Property("Name", &Node::mName);
}

QX_RTTI_DEFINE_CLASS(Bench::Forest, 1)
{
    type.Property("Nodes", &Forest::mNodes);
}

QX_RTTI_DEFINE_CLASS(Bench::Samples, 1)
{
    type.Property("Values", &Samples::mValues);
}

namespace {

constexpr int kObjectCount = 1'000'000;

RTTI::Registry& GetRegistry()
{
    static RTTI::Registry* registry = [] {
        auto* made = new RTTI::Registry();
        made->RegisterPrimitives();
        Serialization::RegisterSchemaTypes(*made);
        made->Register<Bench::RecordTable>();
        made->Register<Bench::Forest>();
        made->Register<Bench::Samples>();
        return made;
    }();
    return *registry;
}

std::filesystem::path FilePath(const char* name)
{
    return std::filesystem::temp_directory_path() /
           (std::string("qx-bench-") + std::to_string(getpid()) + "-" + name);
}

std::unique_ptr<RTTI::Object> MakeRecords()
{
    auto table = std::make_unique<Bench::RecordTable>();
    table->mRecords.resize(kObjectCount);
    for (int i = 0; i < kObjectCount; ++i)
        table->mRecords[i] = {
            0x140000000ull + 16u * i, i * 0.125, i % 64, uint8_t(i % 8), {1, 2, uint32_t(i), 4}};
    return table;
}

std::unique_ptr<RTTI::Object> MakeObjects()
{
    auto forest = std::make_unique<Bench::Forest>();
    forest->mNodes.reserve(kObjectCount);
    for (int i = 0; i < kObjectCount; ++i) {
        auto node = std::make_unique<Bench::Node>();
        node->mId = i;
        node->mValue = i * 0.5;
        node->mName = Utility::Format("n%d", i % 1000);
        forest->mNodes.push_back(std::move(node));
    }
    return forest;
}

std::unique_ptr<RTTI::Object> MakeArray()
{
    auto samples = std::make_unique<Bench::Samples>();
    samples->mValues.resize(16 * kObjectCount);
    for (std::size_t i = 0; i < samples->mValues.size(); ++i)
        samples->mValues[i] = i * 2654435761u;
    return samples;
}

void ReportThroughput(benchmark::State& state, uint64_t bytes)
{
    state.SetBytesProcessed(static_cast<int64_t>(bytes) * state.iterations());
    state.counters["MB/s"] =
        benchmark::Counter(static_cast<double>(bytes) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["FileMB"] = static_cast<double>(bytes) / 1e6;
}

void Write(benchmark::State& state, std::unique_ptr<RTTI::Object> (*make)(), const char* name)
{
    GetRegistry();
    const std::unique_ptr<RTTI::Object> root = make();
    const std::filesystem::path path = FilePath(name);
    for (auto _ : state) {
        Serialization::ErrorList errors;
        if (!Serialization::WriteBinaryFile(path, {root.get()}, errors))
            state.SkipWithError(errors.ToString().c_str());
    }
    ReportThroughput(state, std::filesystem::file_size(path));
    std::filesystem::remove(path);
}

void Read(benchmark::State& state, std::unique_ptr<RTTI::Object> (*make)(), const char* name)
{
    const RTTI::Registry& registry = GetRegistry();
    const std::filesystem::path path = FilePath(name);
    {
        const std::unique_ptr<RTTI::Object> root = make();
        Serialization::ErrorList errors;
        if (!Serialization::WriteBinaryFile(path, {root.get()}, errors))
            state.SkipWithError(errors.ToString().c_str());
    }
    const Serialization::CompatibilityHandlerMap handlers;
    for (auto _ : state) {
        std::vector<std::unique_ptr<RTTI::Object>> objects;
        Serialization::ErrorList errors;
        if (!Serialization::ReadBinaryFile(path, registry, RTTI::GetDefaultObjectFactory(), handlers,
                                           Serialization::EReadMode::SkipUnknownTypes, objects, errors))
            state.SkipWithError(errors.ToString().c_str());
        benchmark::DoNotOptimize(objects.data());
    }
    ReportThroughput(state, std::filesystem::file_size(path));
    std::filesystem::remove(path);
}

void WriteMillionRecords(benchmark::State& state)
{
    Write(state, &MakeRecords, "records.dat");
}
void ReadMillionRecords(benchmark::State& state)
{
    Read(state, &MakeRecords, "records.dat");
}
void WriteMillionObjects(benchmark::State& state)
{
    Write(state, &MakeObjects, "objects.dat");
}
void ReadMillionObjects(benchmark::State& state)
{
    Read(state, &MakeObjects, "objects.dat");
}
void WritePrimitiveArray(benchmark::State& state)
{
    Write(state, &MakeArray, "array.dat");
}
void ReadPrimitiveArray(benchmark::State& state)
{
    Read(state, &MakeArray, "array.dat");
}

BENCHMARK(WriteMillionRecords)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ReadMillionRecords)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(WriteMillionObjects)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ReadMillionObjects)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(WritePrimitiveArray)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ReadPrimitiveArray)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
