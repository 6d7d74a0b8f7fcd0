#include "ZivuDeverUdovIradir/CallGraphSettings.h"

#include "ZivuDeverUdovIradir/SettingsFile.h"

#include <utility>

QX_RTTI_DEFINE_CLASS(Profiler::CallGraphSettings, 1)
{
    type.Property("CallGraphTimeDisplayMode", &CallGraphSettings::mCallGraphTimeDisplayMode)
        .Property("FunctionListTimeDisplayMode", &CallGraphSettings::mFunctionListTimeDisplayMode)
        .Property("VisibleHeaders", &CallGraphSettings::mVisibleHeaders)
        .Property("PieChartVisible", &CallGraphSettings::mPieChartVisible)
        .Property("ThreadSelectorSettings", &CallGraphSettings::mThreadSelectorSettings);
}

namespace Profiler {
namespace {

constexpr std::size_t kHeaderSetBuckets = 8;

CallGraphHeaderSet MakeHeaderSet()
{
    CallGraphHeaderSet headers(kHeaderSetBuckets);
    headers.max_load_factor(1.0f);
    return headers;
}

} // namespace

CallGraphSettings::CallGraphSettings() : mVisibleHeaders(DefaultVisibleHeaders()) {}

CallGraphSettings::~CallGraphSettings() = default;

CallGraphHeaderSet CallGraphSettings::DefaultVisibleHeaders()
{
    CallGraphHeaderSet headers = MakeHeaderSet();
    for (ECallGraphHeaders header :
         {ECallGraphHeaders::FunctionName, ECallGraphHeaders::ModuleName, ECallGraphHeaders::InclusiveTime,
          ECallGraphHeaders::ExclusiveTime, ECallGraphHeaders::ThreadStates})
        headers.insert(header);
    return headers;
}

void CallGraphSettings::SetCallGraphTimeDisplayMode(ECallGraphTimeDisplayMode mode)
{
    mCallGraphTimeDisplayMode = mode;
    SaveCallGraphSettings(*this);
}

void CallGraphSettings::SetFunctionListTimeDisplayMode(EFunctionListTimeDisplayMode mode)
{
    mFunctionListTimeDisplayMode = mode;
    SaveCallGraphSettings(*this);
}

void CallGraphSettings::SetPieChartVisible(bool visible)
{
    mPieChartVisible = visible;
    SaveCallGraphSettings(*this);
}

void CallGraphSettings::SetThreadSelectorProcessMode(ThreadOrganizationModel::EProcessMode mode)
{
    mThreadSelectorSettings.mProcessMode = mode;
    SaveCallGraphSettings(*this);
}

void CallGraphSettings::SetVisibleHeaders(const CallGraphHeaderSet& headers)
{
    AssignVisibleHeaders(headers);
    mVisibleHeaders.erase(ECallGraphHeaders::SampleCount);
    mVisibleHeadersChanged.Emit(mVisibleHeaders);
    SaveCallGraphSettings(*this);
}

Utility::SignalRegistration
CallGraphSettings::SubscribeVisibleHeaders(std::function<void(const CallGraphHeaderSet&)> callback)
{
    return mVisibleHeadersChanged.Connect(std::move(callback));
}

void CallGraphSettings::AssignVisibleHeaders(const CallGraphHeaderSet& headers)
{
    // Element-wise, so that the set keeps its own bucket layout and load factor.
    mVisibleHeaders.clear();
    mVisibleHeaders.insert(headers.begin(), headers.end());
}

void ResetCallGraphSettings(CallGraphSettings& settings)
{
    settings.mCallGraphTimeDisplayMode = ECallGraphTimeDisplayMode::Milliseconds;
    settings.mFunctionListTimeDisplayMode = EFunctionListTimeDisplayMode::Milliseconds;
    settings.AssignVisibleHeaders(CallGraphSettings::DefaultVisibleHeaders());
    settings.mPieChartVisible = true;
}

std::unique_ptr<CallGraphSettings> LoadCallGraphSettings(const RTTI::Registry& registry,
                                                         Serialization::ErrorList& errors)
{
    std::unique_ptr<RTTI::Object> object =
        SettingsFile::Load(kCallGraphSettingsFileName, CallGraphSettings::StaticType(), registry, errors);
    return std::unique_ptr<CallGraphSettings>(static_cast<CallGraphSettings*>(object.release()));
}

void SaveCallGraphSettings(const CallGraphSettings& settings)
{
    SettingsFile::Save(kCallGraphSettingsFileName, settings);
}

} // namespace Profiler
