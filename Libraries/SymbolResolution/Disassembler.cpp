#include "SymbolResolution/ModuleSymbols.h"

#include <capstone/capstone.h>
#include <cstdio>
#include <elf.h>
#include <mutex>
#include <string_view>

namespace Profiler {

namespace {

/// Functions larger than this are not disassembled whole; nobody reads that many lines.
constexpr uint64_t kMaxFunctionBytes = 4u << 20;

class CapstoneHandle {
public:
    ~CapstoneHandle()
    {
        if (mOpen)
            cs_close(&mHandle);
    }
    bool Open(cs_arch arch, cs_mode mode)
    {
        mOpen = cs_open(arch, mode, &mHandle) == CS_ERR_OK;
        return mOpen && cs_option(mHandle, CS_OPT_DETAIL, CS_OPT_ON) == CS_ERR_OK;
    }
    csh Get() const { return mHandle; }

private:
    csh mHandle = 0;
    bool mOpen = false;
};

} // namespace

EDisassemblyResult ModuleSymbols::Disassemble(uint64_t start, uint64_t end,
                                              std::vector<AsmInstruction>& instructions) const
{
    instructions.clear();
    if (mImage == nullptr)
        return EDisassemblyResult::ImageNotFound;
    if (end <= start || end - start > kMaxFunctionBytes)
        return EDisassemblyResult::InvalidFunction;

    cs_arch arch;
    cs_mode mode;
    switch (mImage->GetMachine()) {
    case EM_X86_64:
        arch = CS_ARCH_X86;
        mode = CS_MODE_64;
        break;
    case EM_AARCH64:
        arch = CS_ARCH_ARM64;
        mode = CS_MODE_LITTLE_ENDIAN;
        break;
    default:
        return EDisassemblyResult::InvalidArchitecture;
    }

    std::vector<uint8_t> bytes;
    {
        std::lock_guard lock(mImageMutex);
        if (!mImage->ReadCode(start, end - start, bytes))
            return EDisassemblyResult::ImageCannotBeRead;
    }
    // The disassembler sorts some of its global tables on first use (x86 register lists among
    // them) without a lock, so two threads decoding at once race on them: decoding is short,
    // and one thread at a time does it.
    static std::mutex sDecodeMutex;
    const std::lock_guard decodeLock(sDecodeMutex);
    CapstoneHandle handle;
    if (!handle.Open(arch, mode))
        return EDisassemblyResult::DisassemblerError;
    cs_insn* instruction = cs_malloc(handle.Get());
    if (instruction == nullptr)
        return EDisassemblyResult::DisassemblerError;
    const uint8_t* code = bytes.data();
    std::size_t size = bytes.size();
    uint64_t address = start;
    while (size > 0) {
        if (!cs_disasm_iter(handle.Get(), &code, &size, &address, instruction)) {
            // Data or padding inside the range: show it as bytes and go on past it.
            AsmInstruction data;
            data.mID = static_cast<uint32_t>(instructions.size());
            data.mAddress = address;
            data.mSize = 1;
            data.mMnemonic = ".byte";
            char text[8];
            std::snprintf(text, sizeof(text), "0x%02x", *code);
            data.mOpStr = text;
            instructions.push_back(std::move(data));
            ++code;
            --size;
            ++address;
            continue;
        }
        AsmInstruction decoded;
        decoded.mID = static_cast<uint32_t>(instructions.size());
        decoded.mAddress = instruction->address;
        decoded.mSize = instruction->size;
        decoded.mMnemonic = instruction->mnemonic;
        decoded.mOpStr = instruction->op_str;
        // Older disassemblers put no AArch64 branch-with-link in the call group.
        const std::string_view mnemonic = instruction->mnemonic;
        decoded.mIsCallInstruction = cs_insn_group(handle.Get(), instruction, CS_GRP_CALL) ||
                                     (arch == CS_ARCH_ARM64 && (mnemonic == "bl" || mnemonic == "blr"));
        instructions.push_back(std::move(decoded));
    }
    cs_free(instruction, 1);
    return EDisassemblyResult::Success;
}

} // namespace Profiler
