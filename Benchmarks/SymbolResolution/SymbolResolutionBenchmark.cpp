// Address resolution with source lines and inline chains, after a module is loaded, on a
// program with full debug information that the benchmark compiles itself: many functions, each
// with inlined helpers from a header-like part of the same unit and from templates.

#include "SymbolResolution/ModuleSymbols.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <unistd.h>

using namespace Profiler;

namespace {

constexpr int kFunctions = 3000;

std::string ProgramSource()
{
    std::string source = "#include <vector>\n#include <algorithm>\n#include <numeric>\n"
                         "template <class T> static inline T Mix(T a, T b) { return (a * 31) ^ (b + 7); }\n"
                         "static inline int Clamp(int v) { return v < 0 ? -v : v % 1000; }\n";
    for (int i = 0; i < kFunctions; ++i) {
        const std::string n = std::to_string(i);
        source += "__attribute__((noinline)) int Work" + n +
                  "(std::vector<int>& v, int x) {\n"
                  "    int total = Clamp(x + " +
                  n +
                  ");\n"
                  "    for (int& e : v) e = Mix(e, total);\n"
                  "    std::sort(v.begin(), v.end());\n"
                  "    return std::accumulate(v.begin(), v.end(), total);\n}\n";
    }
    source += "int main(int argc, char**) { std::vector<int> v(argc * 8); int s = 0;\n";
    for (int i = 0; i < kFunctions; ++i)
        source += "    s += Work" + std::to_string(i) + "(v, s);\n";
    source += "    return s & 1; }\n";
    return source;
}

struct BenchmarkModule {
    std::shared_ptr<ModuleSymbols> Module;
    std::vector<uint64_t> Addresses;
    std::string Error;
    std::filesystem::path Folder;

    ~BenchmarkModule() { std::filesystem::remove_all(Folder); }

    BenchmarkModule()
    {
        Folder = std::filesystem::temp_directory_path() / ("qx-symbol-bench-" + std::to_string(getpid()));
        const auto& folder = Folder;
        std::filesystem::create_directories(folder);
        std::ofstream(folder / "program.cpp") << ProgramSource();
        const std::string command = "cd " + folder.string() + " && g++ -g -O2 program.cpp -o program";
        if (std::system(command.c_str()) != 0) {
            Error = "compiling the benchmark program failed";
            return;
        }
        Module = ModuleSymbols::Load((folder / "program").string(), {});
        // Every function's instruction addresses, sampled as a profiler would hit them.
        std::mt19937_64 random(42);
        const std::string list = folder.string() + "/symbols.txt";
        if (std::system(
                ("nm -S --defined-only " + (folder / "program").string() + " | grep ' [tT] ' > " + list)
                    .c_str()) != 0) {
            Error = "listing the symbols failed";
            return;
        }
        std::ifstream input(list);
        unsigned long long address = 0, size = 0;
        std::string type, name;
        while (input >> std::hex >> address >> size >> type >> name)
            for (int i = 0; i < 8 && size > 0; ++i)
                Addresses.push_back(address + random() % size);
        std::shuffle(Addresses.begin(), Addresses.end(), random);
    }
};

BenchmarkModule& GetModule()
{
    static BenchmarkModule module;
    return module;
}

void BM_ResolveAddressWithLinesAndInlineChains(benchmark::State& state)
{
    BenchmarkModule& module = GetModule();
    if (!module.Error.empty() || module.Addresses.empty()) {
        state.SkipWithError(module.Error.empty() ? "no addresses" : module.Error.c_str());
        return;
    }
    AddressInfo info;
    std::size_t next = 0;
    uint64_t frames = 0;
    for (auto _ : state) {
        module.Module->Resolve(module.Addresses[next], info);
        frames += info.Frames.size();
        benchmark::DoNotOptimize(info.Frames.data());
        if (++next == module.Addresses.size())
            next = 0;
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.counters["frames_per_address"] =
        benchmark::Counter(static_cast<double>(frames) / static_cast<double>(state.iterations()));
    state.counters["line_rows"] = static_cast<double>(module.Module->GetLineRowCount());
}
BENCHMARK(BM_ResolveAddressWithLinesAndInlineChains);

void BM_LoadModule(benchmark::State& state)
{
    if (!GetModule().Error.empty()) {
        state.SkipWithError(GetModule().Error.c_str());
        return;
    }
    const std::string path = GetModule().Module->GetImagePath();
    for (auto _ : state)
        benchmark::DoNotOptimize(ModuleSymbols::Load(path, {}));
}
BENCHMARK(BM_LoadModule)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
