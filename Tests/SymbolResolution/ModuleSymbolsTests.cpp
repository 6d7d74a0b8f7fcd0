#include "TestPrograms.h"

#include "Support/TempDirectory.h"
#include "SymbolResolution/ModuleSymbols.h"
#include "SymbolResolution/SymbolResolver.h"
#include "System/JobScheduler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <thread>

using namespace Profiler;
using namespace SymbolTest;

namespace {

std::shared_ptr<ModuleSymbols> LoadIsolated(const std::filesystem::path& image)
{
    return ModuleSymbols::Load(image.string(), IsolatedOptions());
}

bool LogHas(const ModuleSymbols& module, EResolveStepOutcome outcome, const std::string& pathPart)
{
    return std::any_of(module.GetLog().begin(), module.GetLog().end(), [&](const ResolveLogEntry& entry) {
        return entry.Outcome == outcome && entry.Path.find(pathPart) != std::string::npos;
    });
}

/// The innermost line of an address, or 0.
int32_t LineAt(const ModuleSymbols& module, uint64_t address)
{
    AddressInfo info;
    module.Resolve(address, info);
    return info.Frames.empty() ? 0 : info.Frames.front().Line;
}

} // namespace

TEST(ModuleSymbols, LinesAndInlineChainsMatchTheCompiler)
{
    const Programs& programs = GetPrograms();
    auto module = LoadIsolated(programs.Full);
    ASSERT_EQ(module->GetStatus(), EModuleResolveStatus::DebugInfo);
    EXPECT_TRUE(module->HasMatchingDebugInfo());
    EXPECT_FALSE(module->GetBuildId().empty());

    bool sawInlineChain = false;
    for (const char* function : {"Sum", "Caller"}) {
        AddressInfo info;
        ASSERT_TRUE(module->Resolve(SymbolAddress(function), info)) << function;
        ASSERT_EQ(info.FunctionStart, SymbolAddress(function));
        std::vector<uint64_t> addresses;
        for (uint64_t address = info.FunctionStart; address < info.FunctionEnd; ++address)
            addresses.push_back(address);
        const auto reported = Addr2Line(programs.Full, addresses);
        for (uint64_t address : addresses) {
            AddressInfo at;
            ASSERT_TRUE(module->Resolve(address, at));
            const auto& expected = reported.at(address);
            ASSERT_EQ(at.Frames.size(), expected.size()) << std::hex << address;
            for (std::size_t i = 0; i < expected.size(); ++i) {
                EXPECT_EQ(at.Frames[i].Function, expected[i].first) << std::hex << address;
                EXPECT_EQ(at.Frames[i].Line, expected[i].second) << std::hex << address << " frame " << i;
            }
            EXPECT_EQ(at.Frames.back().Function, function);
            if (at.Frames.size() == 2 && at.Frames[0].Function == "Square") {
                sawInlineChain = true;
                EXPECT_EQ(at.Frames[0].Line, kSquareLine);
                EXPECT_EQ(at.Frames[1].Line, kSumLoopLine);
                EXPECT_EQ(std::filesystem::path(at.Frames[0].File), programs.Source);
            }
        }
    }
    EXPECT_TRUE(sawInlineChain);
}

TEST(ModuleSymbols, FunctionLinesFollowTheLineTable)
{
    const Programs& programs = GetPrograms();
    auto module = LoadIsolated(programs.Full);
    FunctionLines lines;
    ASSERT_TRUE(module->GetFunctionLines(SymbolAddress("Caller") + 1, lines));
    EXPECT_EQ(std::filesystem::path(lines.SourcePath), programs.Source);
    EXPECT_EQ(lines.FirstLine, 11);
    ASSERT_FALSE(lines.Lines.empty());
    EXPECT_EQ(lines.Lines.front().mAddress, SymbolAddress("Caller"));
    bool sawCallLine = false;
    for (std::size_t i = 0; i < lines.Lines.size(); ++i) {
        if (i > 0) {
            EXPECT_LT(lines.Lines[i - 1].mAddress, lines.Lines[i].mAddress);
        }
        sawCallLine |= lines.Lines[i].mLine == kCallerCallLine;
        if (lines.Lines[i].mLine > 0) {
            EXPECT_EQ(lines.Lines[i].mLine, LineAt(*module, lines.Lines[i].mAddress));
        }
    }
    EXPECT_TRUE(sawCallLine);
}

TEST(ModuleSymbols, DisassemblyCoversTheFunctionAndMarksCalls)
{
    auto module = LoadIsolated(GetPrograms().Full);
    AddressInfo caller;
    ASSERT_TRUE(module->Resolve(SymbolAddress("Caller"), caller));
    std::vector<AsmInstruction> instructions;
    ASSERT_EQ(module->Disassemble(caller.FunctionStart, caller.FunctionEnd, instructions),
              EDisassemblyResult::Success);
    ASSERT_FALSE(instructions.empty());
    uint64_t next = caller.FunctionStart;
    int callsOfSum = 0;
    char sumText[32];
    std::snprintf(sumText, sizeof(sumText), "0x%llx", static_cast<unsigned long long>(SymbolAddress("Sum")));
    for (const AsmInstruction& instruction : instructions) {
        EXPECT_EQ(instruction.mAddress, next);
        next += instruction.mSize;
        EXPECT_EQ(instruction.mIsCallInstruction, instruction.mMnemonic == "call") << instruction.mMnemonic;
        callsOfSum += instruction.mIsCallInstruction && instruction.mOpStr == sumText;
    }
    EXPECT_EQ(next, caller.FunctionEnd);
    EXPECT_EQ(callsOfSum, 1);
    EXPECT_EQ(module->Disassemble(caller.FunctionEnd, caller.FunctionStart, instructions),
              EDisassemblyResult::InvalidFunction);
}

TEST(ModuleSymbols, FindsSeparateDebugFilesByBuildIdAndDebugLink)
{
    const Programs& programs = GetPrograms();
    auto full = LoadIsolated(programs.Full);
    const uint64_t address = SymbolAddress("Sum") + 4;

    SymbolSearchOptions system;
    system.DebugRoot = programs.DebugRoot.string();
    SymbolSearchOptions local = IsolatedOptions();
    local.LocalFolders = {programs.DebugRoot.string()};
    for (const auto& options : {system, local}) {
        auto byId = ModuleSymbols::Load(programs.ByBuildId.string(), options);
        EXPECT_EQ(byId->GetStatus(), EModuleResolveStatus::DebugInfo);
        EXPECT_TRUE(LogHas(*byId, EResolveStepOutcome::Found, ".build-id/"));
        EXPECT_EQ(LineAt(*byId, address), LineAt(*full, address));
    }

    auto byLink = LoadIsolated(programs.ByLink);
    EXPECT_EQ(byLink->GetStatus(), EModuleResolveStatus::DebugInfo);
    EXPECT_EQ(std::filesystem::path(byLink->GetDebugPath()), programs.ByLink.parent_path() / "program.debug");
    EXPECT_EQ(LineAt(*byLink, address), LineAt(*full, address));

    // A debug file of another build is logged and refused, never used for wrong lines.
    auto wrong = LoadIsolated(programs.WrongLink);
    EXPECT_EQ(wrong->GetStatus(), EModuleResolveStatus::SymbolsOnly);
    EXPECT_TRUE(LogHas(*wrong, EResolveStepOutcome::Mismatch, "wrong/program.debug"));
    EXPECT_EQ(LineAt(*wrong, address), 0);
}

TEST(ModuleSymbols, StrippedCodeGetsAStableNameFromItsStart)
{
    auto module = LoadIsolated(GetPrograms().Stripped);
    EXPECT_EQ(module->GetStatus(), EModuleResolveStatus::SymbolsOnly);
    const uint64_t sum = SymbolAddress("Sum");
    char expected[64];
    std::snprintf(expected, sizeof(expected), "stripped+0x%llx", static_cast<unsigned long long>(sum));
    for (uint64_t offset : {0, 1, 7}) {
        AddressInfo info;
        ASSERT_TRUE(module->Resolve(sum + offset, info));
        ASSERT_EQ(info.Frames.size(), 1u);
        EXPECT_EQ(info.Frames[0].Function, expected);
        EXPECT_EQ(info.FunctionStart, sum);
        EXPECT_EQ(info.Frames[0].Line, 0);
    }
}

TEST(ModuleSymbols, MissingAndDamagedFilesEndInTheLogNotInACrash)
{
    const Programs& programs = GetPrograms();
    auto missing = LoadIsolated(programs.Folder / "no-such-image");
    EXPECT_EQ(missing->GetStatus(), EModuleResolveStatus::ImageNotFound);
    EXPECT_TRUE(LogHas(*missing, EResolveStepOutcome::NotFound, "no-such-image"));
    std::vector<AsmInstruction> instructions;
    EXPECT_EQ(missing->Disassemble(0x1000, 0x1010, instructions), EDisassemblyResult::ImageNotFound);

    const std::string bytes = TestSupport::ReadFile(programs.Full);
    const std::filesystem::path damaged = programs.Folder / "damaged";
    auto write = [&](const std::string& content) { TestSupport::WriteFile(damaged, content); };

    write("not an ELF file at all");
    EXPECT_EQ(LoadIsolated(damaged)->GetStatus(), EModuleResolveStatus::ImageBroken);
    write(bytes.substr(0, 64)); // the header alone
    LoadIsolated(damaged);
    // Corrupt the back part of the file (section contents, DWARF and section headers) in
    // several patterns; every load must still give a status and a log.
    const uint64_t sum = SymbolAddress("Sum");
    const uint64_t caller = SymbolAddress("Caller");
    for (std::size_t step : {3u, 17u, 101u, 997u}) {
        std::string corrupt = bytes;
        for (std::size_t i = corrupt.size() / 3; i < corrupt.size(); i += step)
            corrupt[i] = static_cast<char>(corrupt[i] ^ 0x5a);
        write(corrupt);
        auto module = LoadIsolated(damaged);
        EXPECT_FALSE(module->GetLog().empty());
        AddressInfo info;
        for (uint64_t address = sum; address < sum + 64; ++address)
            module->Resolve(address, info);
        FunctionLines lines;
        module->GetFunctionLines(caller, lines);
    }
}

// A unit's lines and scopes are read by the first lookup that needs them; lookups racing to it
// from several threads all get the full answer.
TEST(ModuleSymbols, FirstLookupsFromSeveralThreadsAgree)
{
    const Programs& programs = GetPrograms();
    const auto expected = LoadIsolated(programs.Full);
    AddressInfo reference;
    ASSERT_TRUE(expected->Resolve(SymbolAddress("Sum"), reference));
    auto describe = [](const AddressInfo& info) {
        std::string text;
        for (const SourceFrame& frame : info.Frames)
            text += std::string(frame.Function) + ":" + std::string(frame.File) + ":" +
                    std::to_string(frame.Line) + ";";
        return text;
    };
    const std::string wanted = describe(reference);
    for (int round = 0; round < 5; ++round) {
        const auto module = LoadIsolated(programs.Full);
        std::vector<std::string> seen(4);
        std::vector<std::thread> threads;
        for (auto& slot : seen)
            threads.emplace_back([&module, &slot, &describe] {
                AddressInfo info;
                module->Resolve(SymbolAddress("Sum"), info);
                slot = describe(info);
            });
        for (auto& thread : threads)
            thread.join();
        for (const std::string& text : seen)
            EXPECT_EQ(text, wanted);
    }
}

TEST(SymbolResolver, LoadsEachModuleOnceForAllThreads)
{
    SymbolResolver resolver(IsolatedOptions());
    const std::string path = GetPrograms().Full.string();
    std::vector<std::shared_ptr<const ModuleSymbols>> seen(4);
    std::vector<std::thread> threads;
    for (auto& slot : seen)
        threads.emplace_back([&resolver, &path, &slot] { slot = resolver.GetModule(path); });
    for (auto& thread : threads)
        thread.join();
    for (const auto& module : seen)
        EXPECT_EQ(module, seen.front());
    EXPECT_EQ(resolver.FindLoaded(path), seen.front());
    EXPECT_EQ(resolver.FindLoaded(path + "-other"), nullptr);

    System::JobScheduler scheduler(2);
    std::promise<std::shared_ptr<const ModuleSymbols>> loaded;
    resolver.LoadAsync(scheduler, path, [&loaded](auto module) { loaded.set_value(std::move(module)); });
    EXPECT_EQ(loaded.get_future().get(), seen.front());
}
