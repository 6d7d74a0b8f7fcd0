// A system-wide recording of a busy machine: 100,000 threads with a few samples each, taken
// through the three commands a user runs on it, each as its own process: `qx import` of the
// text, `qx process` of the capture and a whole-capture query (`qx callgraph --depth 2`).
// Reported per command: wall seconds, CPU seconds (user and system; on a shared machine the wall
// time also holds the time spent waiting for a core) and peak resident MiB; the target is under
// 10 s each with memory proportional to the data.
//
// QX_MANY_THREADS sets another thread count (default 100000). QX_MANY_THREADS_TEXT=PATH writes
// the input there (or reuses the file there) and keeps it, for profiling one command on it.

#include "SyntheticPerfScript.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace Profiler;

uint32_t ThreadCount()
{
    const char* count = std::getenv("QX_MANY_THREADS");
    return count != nullptr ? static_cast<uint32_t>(std::strtoul(count, nullptr, 10)) : 100000u;
}

struct Run {
    bool ok = false;
    double seconds = 0.0;
    double cpuSeconds = 0.0;
    double peakMegabytes = 0.0;
};

/// Runs qx with `arguments`, its output to /dev/null, and measures it.
Run RunQx(const std::vector<std::string>& arguments)
{
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        std::vector<char*> argv;
        std::string program = QX_BINARY;
        argv.push_back(program.data());
        std::vector<std::string> copies = arguments;
        for (std::string& argument : copies)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        if (!std::freopen("/dev/null", "w", stdout))
            _exit(127);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    Run run;
    int status = 0;
    rusage usage{};
    if (child > 0 && wait4(child, &status, 0, &usage) == child) {
        run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        run.peakMegabytes = static_cast<double>(usage.ru_maxrss) / 1024.0;
        auto seconds = [](const timeval& time) {
            return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
        };
        run.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return run;
}

void BM_ManyThreadsCommands(benchmark::State& state)
{
    const uint32_t threads = ThreadCount();
    const std::filesystem::path directory =
        std::filesystem::temp_directory_path() / ("qx-many-threads-" + std::to_string(getpid()));
    std::filesystem::create_directories(directory);
    const char* kept = std::getenv("QX_MANY_THREADS_TEXT");
    const std::filesystem::path text =
        kept != nullptr ? std::filesystem::path(kept) : directory / "many-threads.txt";
    SyntheticPerfScript::Shape shape;
    shape.processes = (threads + 999) / 1000;
    shape.threadsPerProcess = threads / shape.processes;
    shape.minDepth = 2;
    shape.maxDepth = 6;
    SyntheticPerfScript::Totals totals;
    if (kept != nullptr && std::filesystem::exists(text)) {
        totals.bytes = std::filesystem::file_size(text);
    } else {
        std::ofstream out(text, std::ios::binary);
        // About four records per thread after its comm and mmap lines.
        totals = SyntheticPerfScript::Generate(shape, uint64_t(threads) * 1600, [&](std::string_view piece) {
            out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
        });
    }
    const std::string capture = (directory / "capture").string();
    Run import;
    Run process;
    Run query;
    for (auto _ : state) {
        std::filesystem::remove_all(capture);
        import = RunQx({"import", text.string(), "-o", capture});
        process = RunQx({"process", capture});
        query = RunQx({"callgraph", capture, "--depth", "2"});
        if (!import.ok || !process.ok || !query.ok)
            state.SkipWithError("a qx command failed");
    }
    std::filesystem::remove_all(directory);
    state.counters["threads"] = shape.processes * shape.threadsPerProcess;
    if (totals.samples != 0) // not known for a reused input
        state.counters["samples"] = static_cast<double>(totals.samples);
    state.counters["input_MB"] = static_cast<double>(totals.bytes) / (1 << 20);
    state.counters["import_s"] = import.seconds;
    state.counters["import_cpu_s"] = import.cpuSeconds;
    state.counters["import_peak_MB"] = import.peakMegabytes;
    state.counters["process_s"] = process.seconds;
    state.counters["process_cpu_s"] = process.cpuSeconds;
    state.counters["process_peak_MB"] = process.peakMegabytes;
    state.counters["query_s"] = query.seconds;
    state.counters["query_cpu_s"] = query.cpuSeconds;
    state.counters["query_peak_MB"] = query.peakMegabytes;
}

} // namespace

BENCHMARK(BM_ManyThreadsCommands)->Unit(benchmark::kSecond)->Iterations(1);

BENCHMARK_MAIN();
