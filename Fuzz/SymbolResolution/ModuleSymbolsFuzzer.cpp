// Loads arbitrary bytes as a module image (ELF, DWARF, notes, symbol tables) and resolves,
// reads lines of and disassembles addresses in it. Seeds: any ELF files, for example the
// programs that the SymbolResolution tests compile.

#include "SymbolResolution/ModuleSymbols.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string kPath =
        (std::filesystem::temp_directory_path() / ("qx-fuzz-module-" + std::to_string(getpid()))).string();
    std::FILE* file = std::fopen(kPath.c_str(), "wb");
    if (file == nullptr)
        return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    Profiler::SymbolSearchOptions options;
    options.DebugRoot.clear(); // only the input itself
    auto module = Profiler::ModuleSymbols::Load(kPath, options);
    Profiler::AddressInfo info;
    Profiler::FunctionLines lines;
    std::vector<Profiler::AsmInstruction> instructions;
    for (uint64_t address = 0; address < 0x4000; address += 0x101) {
        if (module->Resolve(address, info) && info.HasFunction)
            (void)module->Disassemble(info.FunctionStart, info.FunctionEnd, instructions);
        (void)module->GetFunctionLines(address, lines);
    }
    return 0;
}
