#include "CaptureModel/FunctionData.h"

QX_RTTI_DEFINE_CLASS(Profiler::AsmInstruction, 1)
{
    type.Property("ID", &AsmInstruction::mID)
        .Property("Address", &AsmInstruction::mAddress)
        .Property("Size", &AsmInstruction::mSize)
        .Property("Mnemonic", &AsmInstruction::mMnemonic)
        .Property("OpStr", &AsmInstruction::mOpStr)
        .Property("IsCallInstruction", &AsmInstruction::mIsCallInstruction);
}

QX_RTTI_DEFINE_CLASS(Profiler::ResolvedLine, 1)
{
    type.Property("Address", &ResolvedLine::mAddress).Property("Line", &ResolvedLine::mLine);
}

QX_RTTI_DEFINE_CLASS(Profiler::AddressToLineMap, 1)
{
    type.Property("ResolvedLines", &AddressToLineMap::mResolvedLines)
        .Property("LineToFirstAddressMap", &AddressToLineMap::mLineToFirstAddressMap)
        .Property("FullyResolved", &AddressToLineMap::mFullyResolved);
}

QX_RTTI_DEFINE_CLASS(Profiler::FunctionData, 1)
{
    type.Property("Result", &FunctionData::mResult)
        .Property("DisassemblyResult", &FunctionData::mDisassemblyResult)
        .Property("ErrorMessage", &FunctionData::mErrorMessage)
        .Property("OriginalSourcePath", &FunctionData::mOriginalSourcePath)
        .Property("ResolvedSourcePath", &FunctionData::mResolvedSourcePath)
        .Property("ResolvedFunctionLine", &FunctionData::mResolvedFunctionLine)
        .Property("ResolvedCursorLine", &FunctionData::mResolvedCursorLine)
        .Property("Instructions", &FunctionData::mInstructions);
}

QX_RTTI_DEFINE_CLASS(Profiler::FunctionLineData, 1)
{
    type.Property("AddressToLineMap", &FunctionLineData::mAddressToLineMap);
}
