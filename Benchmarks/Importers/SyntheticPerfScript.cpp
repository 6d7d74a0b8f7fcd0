#include "SyntheticPerfScript.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <random>
#include <vector>

namespace Profiler {

namespace {

struct Function {
    std::string name;
    uint32_t dso = 0;
    uint64_t start = 0;
};

struct Thread {
    int32_t pid = 0;
    int32_t tid = 0;
    std::string comm;
    std::vector<uint32_t> stack; // outermost first, indexes into the user functions
};

void AppendFrame(std::string& out, uint64_t address, const Function& function, uint64_t offset,
                 const std::vector<std::string>& dsos)
{
    char text[64];
    std::snprintf(text, sizeof(text), "\t%16" PRIx64 " ", address);
    out += text;
    out += function.name;
    std::snprintf(text, sizeof(text), "+0x%" PRIx64 " (", offset);
    out += text;
    out += dsos[function.dso];
    out += ")\n";
}

} // namespace

SyntheticPerfScript::Totals SyntheticPerfScript::Generate(const Shape& shape, uint64_t targetBytes,
                                                          const std::function<void(std::string_view)>& write)
{
    std::mt19937_64 random(shape.seed);
    auto below = [&](uint64_t n) { return n == 0 ? 0 : random() % n; };

    std::vector<std::string> dsos = {"[kernel.kallsyms]"};
    for (uint32_t i = 1; i < shape.dsos; ++i)
        dsos.push_back("/usr/lib/x86_64-linux-gnu/libsynthetic" + std::to_string(i) + ".so.1");

    const char* const kWords[] = {"Update", "Render", "Parse",  "Compute", "Load",  "Store", "Visit", "Merge",
                                  "Encode", "Decode", "Build",  "Sort",    "Hash",  "Find",  "Apply", "Flush",
                                  "Read",   "Write",  "Submit", "Wait",    "Queue", "Pack",  "Split", "Scan"};
    std::vector<Function> user;
    for (uint32_t i = 0; i < shape.functions; ++i) {
        Function function;
        function.name = "ns" + std::to_string(i % 37) + "::" + kWords[below(24)] + kWords[below(24)] + "_" +
                        std::to_string(i) + (i % 5 == 0 ? "(int, std::string const&)" : "");
        function.dso = 1 + static_cast<uint32_t>(below(dsos.size() - 1));
        function.start = 0x1000 + i * 0x240ull;
        user.push_back(std::move(function));
    }
    const char* const kKernel[] = {"entry_SYSCALL_64_after_hwframe",
                                   "do_syscall_64",
                                   "__x64_sys_read",
                                   "ksys_read",
                                   "vfs_read",
                                   "ext4_file_read_iter",
                                   "filemap_read",
                                   "copy_page_to_iter",
                                   "__schedule",
                                   "schedule",
                                   "futex_wait",
                                   "do_futex",
                                   "__x64_sys_futex"};
    std::vector<Function> kernel;
    for (uint32_t i = 0; i < std::size(kKernel); ++i)
        kernel.push_back({kKernel[i], 0, 0xffffffff81000000ull + i * 0x1000ull});

    std::vector<Thread> threads;
    for (uint32_t p = 0; p < shape.processes; ++p) {
        for (uint32_t t = 0; t < shape.threadsPerProcess; ++t) {
            Thread thread;
            // Thread ids of one process follow its process id without reaching the next one.
            thread.pid = static_cast<int32_t>(1000 + p * std::max(100u, shape.threadsPerProcess));
            thread.tid = thread.pid + static_cast<int32_t>(t);
            thread.comm = t == 0 ? "app" + std::to_string(p) : "Worker Pool " + std::to_string(t);
            uint32_t depth =
                shape.minDepth + static_cast<uint32_t>(below(shape.maxDepth - shape.minDepth + 1));
            for (uint32_t d = 0; d < depth; ++d)
                thread.stack.push_back(static_cast<uint32_t>(below(user.size())));
            threads.push_back(std::move(thread));
        }
    }

    Totals totals;
    std::string out;
    auto flush = [&] {
        totals.bytes += out.size();
        write(out);
        out.clear();
    };
    char text[256];
    uint64_t timeNs = 1000000000ull;
    for (const Thread& thread : threads) {
        std::snprintf(text, sizeof(text), "%s %d/%d %" PRIu64 ".%06" PRIu64 ": PERF_RECORD_COMM: %s:%d/%d\n",
                      thread.comm.c_str(), thread.pid, thread.tid, timeNs / 1000000000,
                      timeNs / 1000 % 1000000, thread.comm.c_str(), thread.pid, thread.tid);
        out += text;
        std::snprintf(
            text, sizeof(text),
            "%s %d/%d %" PRIu64 ".%06" PRIu64 ": PERF_RECORD_MMAP2 %d/%d: [0x7f0000000000(0x200000) @ "
            "0x1000 fe:00 1234 0]: r-xp %s\n",
            thread.comm.c_str(), thread.pid, thread.tid, timeNs / 1000000000, timeNs / 1000 % 1000000,
            thread.pid, thread.tid, dsos[1 + thread.tid % (dsos.size() - 1)].c_str());
        out += text;
    }

    while (totals.bytes + out.size() < targetBytes) {
        Thread& thread = threads[below(threads.size())];
        timeNs += 1000 + below(30000);
        // Drift: pop a few frames, push a few, within the depth range.
        uint32_t pop = static_cast<uint32_t>(below(4));
        for (uint32_t i = 0; i < pop && thread.stack.size() > shape.minDepth; ++i)
            thread.stack.pop_back();
        uint32_t push = static_cast<uint32_t>(below(4));
        for (uint32_t i = 0; i < push && thread.stack.size() < shape.maxDepth; ++i)
            thread.stack.push_back(static_cast<uint32_t>(below(user.size())));

        const bool isSwitch = below(shape.switchEveryNthRecord) == 0;
        if (isSwitch) {
            std::snprintf(
                text, sizeof(text),
                "%s %d/%d %" PRIu64 ".%06" PRIu64 ":          1 sched:sched_switch: prev_comm=%s "
                "prev_pid=%d prev_prio=120 prev_state=%s ==> next_comm=swapper/1 next_pid=0 next_prio=120\n",
                thread.comm.c_str(), thread.pid, thread.tid, timeNs / 1000000000, timeNs / 1000 % 1000000,
                thread.comm.c_str(), thread.tid, below(3) == 0 ? "R" : "S");
            ++totals.switches;
        } else {
            std::snprintf(text, sizeof(text), "%s %d/%d %" PRIu64 ".%06" PRIu64 ":    1000000 cpu-clock: \n",
                          thread.comm.c_str(), thread.pid, thread.tid, timeNs / 1000000000,
                          timeNs / 1000 % 1000000);
            ++totals.samples;
        }
        out += text;
        // Switches always block in the kernel; a quarter of the samples are in a system call.
        if (isSwitch) {
            for (uint32_t k : {8u, 9u, 10u, 11u, 12u, 0u})
                AppendFrame(out, kernel[k].start + 0x40, kernel[k], 0x40, dsos);
        } else if (below(4) == 0) {
            for (uint32_t k : {7u, 6u, 5u, 4u, 3u, 2u, 1u, 0u})
                AppendFrame(out, kernel[k].start + 0x20, kernel[k], 0x20, dsos);
        }
        for (auto index = thread.stack.rbegin(); index != thread.stack.rend(); ++index) {
            const Function& function = user[*index];
            uint64_t offset = 4 + below(0x200);
            AppendFrame(out, function.start + offset, function, offset, dsos);
        }
        out += '\n';
        if (out.size() > (1u << 20))
            flush();
    }
    flush();
    return totals;
}

} // namespace Profiler
