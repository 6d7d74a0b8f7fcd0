#pragma once

#include "RTTI/Reflection.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace Profiler {

/// How the search for a function's debug information and source file ended.
enum class EResolveFunctionDataResult : uint8_t {
    PDBNotFound = 0,
    PDBCouldNotBeLoaded = 1,
    SourceNotFound = 2,
    SourceUnmatched = 3,
    SourceFound = 4,
    SourceFoundNoChecksum = 5,
    SourceFoundInCache = 6,
    CriticalError = 7,
};
QX_RTTI_ENUM(EResolveFunctionDataResult, "Profiler::EResolveFunctionDataResult", PDBNotFound,
             PDBCouldNotBeLoaded, SourceNotFound, SourceUnmatched, SourceFound, SourceFoundNoChecksum,
             SourceFoundInCache, CriticalError);

/// How disassembling a function ended.
enum class EDisassemblyResult : uint8_t {
    NotDisassembled,
    InvalidFunction,
    InvalidModule,
    ImageNotFound,
    ImageCannotBeParsed,
    ImageCannotBeRead,
    InvalidArchitecture,
    DisassemblerError,
    DisassemblyNotAvailable,
    Success,
    SuccessFromCache,
};
QX_RTTI_ENUM(EDisassemblyResult, "Profiler::EDisassemblyResult", NotDisassembled, InvalidFunction,
             InvalidModule, ImageNotFound, ImageCannotBeParsed, ImageCannotBeRead, InvalidArchitecture,
             DisassemblerError, DisassemblyNotAvailable, Success, SuccessFromCache);

/// One disassembled instruction.
struct AsmInstruction {
    QX_RTTI_STRUCT(AsmInstruction);

    uint32_t mID = 0;
    uint64_t mAddress = 0;
    uint16_t mSize = 0;
    std::string mMnemonic;
    std::string mOpStr;
    bool mIsCallInstruction = false;
};

/// An instruction address and the source line it belongs to.
struct ResolvedLine {
    QX_RTTI_STRUCT(ResolvedLine);

    uint64_t mAddress = 0;
    int32_t mLine = 0;
};

/// The source lines of a function's instructions.
struct AddressToLineMap {
    QX_RTTI_STRUCT(AddressToLineMap);

    std::vector<ResolvedLine> mResolvedLines;
    std::map<int32_t, uint64_t> mLineToFirstAddressMap;
    bool mFullyResolved = false;
};

/// What a resolve job found for one function: its source file, its lines and its instructions.
class FunctionData : public RTTI::Object {
public:
    QX_RTTI_CLASS(FunctionData);

    EResolveFunctionDataResult mResult = EResolveFunctionDataResult::PDBNotFound;
    EDisassemblyResult mDisassemblyResult = EDisassemblyResult::NotDisassembled;
    std::string mErrorMessage;
    std::string mOriginalSourcePath;
    std::string mResolvedSourcePath;
    int32_t mResolvedFunctionLine = 0;
    int32_t mResolvedCursorLine = 0;
    std::vector<AsmInstruction> mInstructions;
};

/// The line information of one function.
class FunctionLineData : public RTTI::Object {
public:
    QX_RTTI_CLASS(FunctionLineData);

    AddressToLineMap mAddressToLineMap;
};

} // namespace Profiler
