// Unwinding of a captured user stack as perf copies it (the registers and 8 KB above SP), on a
// program that the benchmark compiles itself: optimised C++ without frame pointers, 30 calls
// deep, sampled inside a comparison that libc's qsort calls, so that the stack crosses the
// program, libc and back.

#include "SymbolResolution/StackUnwinder.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <unistd.h>

using namespace Profiler;

namespace {

constexpr int kDepth = 30;
constexpr uint64_t kMask = (1u << 1) | (1u << 6) | (1u << 7) | (1u << 8) | (0xFu << 20);

std::string ProgramSource()
{
    std::string source = R"program(#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
extern "C" {
uint64_t gRegisters[24];
uint64_t gStackTop;
uint64_t gStackSize;
unsigned char gStack[8192];
__attribute__((noipa)) int Compare(const void* a, const void* b)
{
    if (gStackSize == 0) {
        asm volatile("movq %%rbx, 8(%0)\n\tmovq %%rbp, 48(%0)\n\tmovq %%rsp, 56(%0)\n\t"
                     "leaq 0(%%rip), %%rax\n\tmovq %%rax, 64(%0)\n\tmovq %%r12, 160(%0)\n\t"
                     "movq %%r13, 168(%0)\n\tmovq %%r14, 176(%0)\n\tmovq %%r15, 184(%0)"
                     : : "D"(gRegisters) : "rax", "memory");
        gStackSize = gStackTop - gRegisters[7] < sizeof(gStack) ? gStackTop - gRegisters[7] : sizeof(gStack);
        std::memcpy(gStack, reinterpret_cast<const void*>(gRegisters[7]), gStackSize);
    }
    return *static_cast<const int*>(a) - *static_cast<const int*>(b);
}
__attribute__((noipa)) int Level0(int n)
{
    int values[64];
    for (int i = 0; i < 64; ++i)
        values[i] = (i * 7919 + n) % 101;
    std::qsort(values, 64, sizeof(int), Compare);
    return values[n % 64];
}
)program";
    for (int i = 1; i < kDepth; ++i) {
        const std::string n = std::to_string(i);
        source += "__attribute__((noipa)) int Level" + n + "(int n) { volatile int pad[" +
                  std::to_string(i % 5 + 1) + "] = {}; pad[0] = n; return Level" + std::to_string(i - 1) +
                  "(pad[0] + " + n + ") * 3 + n; }\n";
    }
    source += R"program(}
int main(int argc, char** argv)
{
    std::stringstream maps;
    maps << std::ifstream("/proc/self/maps").rdbuf();
    const uint64_t here = reinterpret_cast<uint64_t>(&maps);
    std::istringstream lines(maps.str());
    for (std::string line; std::getline(lines, line);) {
        unsigned long long start = 0, end = 0;
        if (std::sscanf(line.c_str(), "%llx-%llx", &start, &end) == 2 && start <= here && here < end)
            gStackTop = end;
    }
    const int result = LEVEL_TOP(argc);
    std::FILE* out = std::fopen(argv[1], "wb");
    std::fwrite(gRegisters, 8, 24, out);
    std::fwrite(&gStackSize, 8, 1, out);
    std::fwrite(gStack, 1, gStackSize, out);
    std::fputs(maps.str().c_str(), out);
    std::fclose(out);
    return result == 42;
}
)program";
    return source;
}

struct CapturedSample {
    std::filesystem::path Folder;
    std::string Error;
    std::vector<uint64_t> Registers;
    std::vector<std::byte> Stack;
    std::shared_ptr<UnwindAddressSpace> Space;

    ~CapturedSample() { std::filesystem::remove_all(Folder); }

    CapturedSample()
    {
        Folder = std::filesystem::temp_directory_path() / ("qx-unwind-bench-" + std::to_string(getpid()));
        std::filesystem::create_directories(Folder);
        std::ofstream(Folder / "program.cpp") << ProgramSource();
        const std::string command = "cd " + Folder.string() + " && g++ -g -O2 -DLEVEL_TOP=Level" +
                                    std::to_string(kDepth - 1) +
                                    " program.cpp -o program && ./program sample";
        if (std::system(command.c_str()) != 0) {
            Error = "compiling or running the sampled program failed";
            return;
        }
        std::ifstream input(Folder / "sample", std::ios::binary);
        uint64_t registers[24] = {};
        uint64_t size = 0;
        input.read(reinterpret_cast<char*>(registers), sizeof(registers));
        input.read(reinterpret_cast<char*>(&size), sizeof(size));
        Stack.resize(size);
        input.read(reinterpret_cast<char*>(Stack.data()), static_cast<std::streamsize>(size));
        for (int bit = 0; bit < 24; ++bit)
            if ((kMask >> bit & 1) != 0)
                Registers.push_back(registers[bit]);
        Space = std::make_shared<UnwindAddressSpace>();
        Space->ReadProcMaps(input);
        if (Stack.empty() || Space->Mappings.empty())
            Error = "the sample could not be read";
    }
};

CapturedSample& GetSample()
{
    static CapturedSample sample;
    return sample;
}

/// What each unwinding starts from.
enum class EStart { Warm, NewProcess, NewUnwinder };

void UnwindRepeatedly(benchmark::State& state, EStart start)
{
    if (!GetSample().Error.empty()) {
        state.SkipWithError(GetSample().Error.c_str());
        return;
    }
    const CapturedSample& sample = GetSample();
    auto unwinder = std::make_unique<StackUnwinder>();
    std::vector<uint64_t> ips;
    std::size_t frames = 0;
    for (auto _ : state) {
        if (start == EStart::NewUnwinder)
            unwinder = std::make_unique<StackUnwinder>();
        ips.clear();
        frames = unwinder->Unwind(1, sample.Space, kMask, sample.Registers, sample.Stack, ips);
        benchmark::DoNotOptimize(ips.data());
        if (start == EStart::NewProcess)
            unwinder->ForgetProcess(1);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.counters["frames"] = static_cast<double>(frames);
}

/// The steady state: the process's modules are reported, their tables read.
void BM_UnwindSample(benchmark::State& state)
{
    UnwindRepeatedly(state, EStart::Warm);
}
BENCHMARK(BM_UnwindSample)->Unit(benchmark::kMicrosecond);

/// The first sample of a process whose files other processes opened already.
void BM_UnwindFirstSampleOfProcess(benchmark::State& state)
{
    UnwindRepeatedly(state, EStart::NewProcess);
}
BENCHMARK(BM_UnwindFirstSampleOfProcess)->Unit(benchmark::kMicrosecond);

/// A fresh unwinder: opening the files and reading their headers included.
void BM_UnwindFirstSampleOfUnwinder(benchmark::State& state)
{
    UnwindRepeatedly(state, EStart::NewUnwinder);
}
BENCHMARK(BM_UnwindFirstSampleOfUnwinder)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
