#include "TestPrograms.h"

#include "SymbolResolution/ModuleSymbols.h"
#include "SymbolResolution/StackUnwinder.h"

#include <elf.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>

using namespace Profiler;
using namespace SymbolTest;

namespace {

// A chain of calls in optimised code without frame pointers. The innermost function takes the
// registers that unwinding needs the way perf does (in perf's order: BX, BP, SP, IP, R12..R15),
// then writes them, the runtime address of LevelFour, the stack above SP and its mappings.
constexpr const char* kCaptureSource = R"program(#include <algorithm>
#include <cstdint>
#include <cstdio>
extern "C" {
extern void* __libc_stack_end;
const char* gPath;
uint64_t gRegisters[8];
int LevelFour(int n);
__attribute__((noipa)) void Save()
{
    const uint64_t sp = gRegisters[2], top = reinterpret_cast<uint64_t>(__libc_stack_end);
    const uint64_t header[2] = {reinterpret_cast<uint64_t>(&LevelFour), std::min<uint64_t>(16384, top - sp)};
    std::FILE* out = std::fopen(gPath, "wb");
    std::fwrite(gRegisters, 8, 8, out);
    std::fwrite(header, 8, 2, out);
    std::fwrite(reinterpret_cast<const void*>(sp), 1, header[1], out);
    std::FILE* maps = std::fopen("/proc/self/maps", "r");
    for (int c; (c = std::fgetc(maps)) != EOF;)
        std::fputc(c, out);
    std::fclose(out);
}
__attribute__((noipa)) int LevelFour(int n)
{
    asm volatile("movq %%rbx, (%0)\n\tmovq %%rbp, 8(%0)\n\tmovq %%rsp, 16(%0)\n\t"
                 "leaq 0(%%rip), %%rax\n\tmovq %%rax, 24(%0)\n\tmovq %%r12, 32(%0)\n\t"
                 "movq %%r13, 40(%0)\n\tmovq %%r14, 48(%0)\n\tmovq %%r15, 56(%0)"
                 : : "D"(gRegisters) : "rax", "memory");
    Save();
    return n * 3 + 1;
}
__attribute__((noipa)) int LevelThree(int n) { return LevelFour(n + 1) * 5 + n; }
__attribute__((noipa)) int LevelTwo(int n) { return LevelThree(n + 2) * 7 + n; }
__attribute__((noipa)) int LevelOne(int n) { return LevelTwo(n + 3) * 11 + n; }
}
int main(int argc, char** argv) { gPath = argv[1]; return LevelOne(argc) == 42; }
)program";

constexpr uint64_t kMask = (1u << 1) | (1u << 6) | (1u << 7) | (1u << 8) | (0xFu << 20);

struct Capture {
    std::filesystem::path Program;
    std::vector<uint64_t> Registers = std::vector<uint64_t>(8); ///< kMask's: the IP is the fourth
    uint64_t Bias = 0;                                          ///< runtime address minus the program's own
    std::vector<std::byte> Stack;
    std::shared_ptr<UnwindAddressSpace> Space = std::make_shared<UnwindAddressSpace>();
};

/// Runs the capture program built with `flags` (once per flags).
const Capture& GetCapture(const std::string& name, const std::string& flags)
{
    static std::map<std::string, Capture> captures;
    auto [found, added] = captures.try_emplace(name);
    Capture& capture = found->second;
    if (!added)
        return capture;
    capture.Program =
        CompileCpp(name, kCaptureSource, "-g -O1 -fomit-frame-pointer -fno-optimize-sibling-calls " + flags);
    RunCommand(capture.Program.string() + " " + capture.Program.string() + ".out");
    std::ifstream input(capture.Program.string() + ".out", std::ios::binary);
    uint64_t header[2] = {};
    input.read(reinterpret_cast<char*>(capture.Registers.data()), 64);
    input.read(reinterpret_cast<char*>(header), sizeof(header));
    capture.Stack.resize(header[1]);
    input.read(reinterpret_cast<char*>(capture.Stack.data()), static_cast<std::streamsize>(header[1]));
    capture.Bias = header[0] - SymbolAddress(capture.Program, "LevelFour");
    capture.Space->ReadProcMaps(input);
    EXPECT_GT(capture.Space->Mappings.size(), 4u) << "the capture program failed";
    return capture;
}

/// The functions of the first frames, as the program's symbols name them.
std::vector<std::string> Functions(const Capture& capture, const std::vector<uint64_t>& ips,
                                   std::size_t count)
{
    auto module = ModuleSymbols::Load(capture.Program.string(), IsolatedOptions());
    std::vector<std::string> names;
    for (std::size_t i = 0; i < std::min(count, ips.size()); ++i) {
        AddressInfo info;
        const uint64_t address = ips[i] - capture.Bias - (i == 0 ? 0 : 1);
        names.push_back(module->Resolve(address, info) ? std::string(info.Frames.back().Function) : "?");
    }
    return names;
}

/// The capture's address space with the program mapped from `path` instead (none when empty).
std::shared_ptr<UnwindAddressSpace> WithProgram(const Capture& capture, uint64_t version,
                                                const std::string& path)
{
    auto space = std::make_shared<UnwindAddressSpace>(*capture.Space);
    space->Version = version;
    std::erase_if(space->Mappings, [&](UnwindMapping& mapping) {
        return mapping.Path == capture.Program.string() && (mapping.Path = path).empty();
    });
    return space;
}

} // namespace

TEST(StackUnwinder, FollowsOptimisedCallChainsThroughExecutablesAndLibraries)
{
    for (const auto& [name, flags] :
         {std::pair{"chain-dyn", "-fPIE -pie"}, {"chain-exec", "-fno-pie -no-pie"}}) {
        SCOPED_TRACE(flags);
        const Capture& capture = GetCapture(name, flags);
        StackUnwinder unwinder;
        std::vector<uint64_t> ips{0xdead};
        const std::size_t count =
            unwinder.Unwind(1, capture.Space, kMask, capture.Registers, capture.Stack, ips);
        ASSERT_EQ(ips.size(), count + 1);
        ips.erase(ips.begin());
        EXPECT_EQ(ips.front(), capture.Registers[3]);
        EXPECT_EQ(Functions(capture, ips, 5),
                  (std::vector<std::string>{"LevelFour", "LevelThree", "LevelTwo", "LevelOne", "main"}));
        // libc's start code calls main and has CFI; _start ends the stack.
        EXPECT_GE(count, 6u);
        EXPECT_LE(count, 10u);

        // Later samples and other processes reuse what is open; a frame limit cuts the stack.
        const std::size_t files = unwinder.GetOpenedFileCount();
        for (int32_t process : {1, 2}) {
            std::vector<uint64_t> again;
            EXPECT_EQ(unwinder.Unwind(process, capture.Space, kMask, capture.Registers, capture.Stack, again),
                      count);
            EXPECT_EQ(again, ips);
            again.clear();
            EXPECT_EQ(
                unwinder.Unwind(process, capture.Space, kMask, capture.Registers, capture.Stack, again, 3),
                3u);
            EXPECT_EQ(again, std::vector<uint64_t>(ips.begin(), ips.begin() + 3));
        }
        EXPECT_EQ(unwinder.GetOpenedFileCount(), files);
        unwinder.ForgetProcess(1);
        EXPECT_EQ(unwinder.GetSessionCount(), 1u);
    }
}

TEST(StackUnwinder, MissingDamagedOrPartialInputEndsTheStackEarly)
{
    const Capture& capture = GetCapture("chain-dyn", "-fPIE -pie");
    StackUnwinder unwinder;
    std::vector<uint64_t> ips;
    auto unwind = [&](int32_t process, const std::shared_ptr<const UnwindAddressSpace>& space,
                      std::size_t stackSize = SIZE_MAX, uint64_t mask = kMask) {
        ips.clear();
        const auto stack = std::span(capture.Stack).first(std::min(stackSize, capture.Stack.size()));
        const std::size_t count = unwinder.Unwind(process, space, mask, capture.Registers, stack, ips);
        EXPECT_TRUE(count == ips.size() && (count == 0 || ips.front() == capture.Registers[3]));
        return count;
    };
    const std::size_t full = unwind(1, capture.Space);
    ASSERT_GE(full, 6u);
    EXPECT_EQ(unwind(1, capture.Space, 0), 1u); // the return address is beyond the copy
    for (std::size_t size : {7, 24, 100, 1000})
        EXPECT_LE(unwind(1, capture.Space, size), full) << size;
    EXPECT_EQ(unwind(1, capture.Space, SIZE_MAX, kMask & ~(uint64_t(1) << 7)), 0u); // no SP
    unwinder.SetMachine(EM_AARCH64);
    EXPECT_EQ(unwind(1, capture.Space), 0u);
    unwinder.SetMachine(EM_X86_64);

    // The program appears in a later version of the address space, is replaced, and comes back.
    const std::string program = capture.Program.string();
    std::ofstream(program + ".garbage") << std::string(70000, 'x');
    EXPECT_EQ(unwind(2, WithProgram(capture, 1, "")), 1u);
    EXPECT_EQ(unwind(2, WithProgram(capture, 2, program)), full);
    for (const std::string& path : {program + ".garbage", program + ".missing"}) {
        EXPECT_EQ(unwind(2, WithProgram(capture, 3, path)), 1u) << path;
        EXPECT_EQ(unwind(3, WithProgram(capture, 1, path)), 1u) << path;
    }
    EXPECT_EQ(unwind(2, WithProgram(capture, 4, program)), full);

    // Random bytes in the program's unwind tables, or a file that ends after its headers, must
    // not crash, wherever they lead.
    std::stringstream image;
    image << std::ifstream(program, std::ios::binary).rdbuf();
    std::string bytes = image.str();
    std::istringstream sections(RunCommand("readelf -SW " + program +
                                           " | sed 's/\\[ */[/' | awk '$2 ~ /^.eh_frame/ {print $5, $6}'"));
    std::mt19937 random(7);
    unsigned long long offset = 0, size = 0;
    for (std::string line; std::getline(sections, line);)
        for (std::sscanf(line.c_str(), "%llx %llx", &offset, &size);
             size > 4 && offset + size <= bytes.size(); size -= 3)
            bytes[offset + size - 1] = static_cast<char>(random());
    for (int round = 0; round < 4; ++round) {
        const std::string copy = program + ".damaged" + std::to_string(round);
        std::ofstream(copy, std::ios::binary) << (round == 0 ? bytes.substr(0, 4096) : bytes);
        EXPECT_GE(unwind(4 + round, WithProgram(capture, 1, copy)), 1u);
        for (int i = 0; i < 64; ++i)
            bytes[offset + random() % 1000] = static_cast<char>(random());
    }
}
