#include "CaptureModel/InstrumentationDatabase.h"

namespace Profiler {

const std::string* InstrumentationDatabase::FindName(const ResolvedAddress& address) const
{
    if (auto it = mInstrumentationData.find(address); it != mInstrumentationData.end())
        return &it->second.mName;
    if (auto it = mInstrumentationIDs.find(address); it != mInstrumentationIDs.end())
        return &it->second;
    return nullptr;
}

} // namespace Profiler

QX_RTTI_DEFINE_CLASS(Profiler::InstrumentationData, 1)
{
    type.Property("Name", &InstrumentationData::mName).Property("Color", &InstrumentationData::mColor);
}

QX_RTTI_DEFINE_CLASS(Profiler::InstrumentationDatabase, 2)
{
    type.Property("InstrumentationIDs", &InstrumentationDatabase::mInstrumentationIDs)
        .Property("InstrumentationData", &InstrumentationDatabase::mInstrumentationData)
        .Property("ContextIDs", &InstrumentationDatabase::mContextIDs);
}
