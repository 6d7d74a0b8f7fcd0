#pragma once

#include "RTTI/Reflection.h"
#include "Utility/ErrorList.h"
#include "Utility/Signal.h"
#include "ZivuDeverUdovIradir/CallGraphDisplayOptions.h"
#include "ZivuDeverUdovIradir/ThreadSelectorSettings.h"

#include <functional>
#include <memory>

namespace Profiler {

/// The file the call graph settings live in, relative to the current directory (which the host
/// sets).
inline constexpr const char* kCallGraphSettingsFileName = "CallGraphPlugin.json";

/// The user's choices for the call graph and function list panels. Each setter saves the whole
/// record at once, so nothing needs saving at shut-down.
class CallGraphSettings : public RTTI::Object {
public:
    QX_RTTI_CLASS(CallGraphSettings);

    /// A record with the defaults: times in milliseconds, every column but the sample count,
    /// the pie chart shown, the processes combined in the thread selector.
    CallGraphSettings();
    ~CallGraphSettings() override;
    CallGraphSettings(const CallGraphSettings&) = delete;
    CallGraphSettings& operator=(const CallGraphSettings&) = delete;

    ECallGraphTimeDisplayMode GetCallGraphTimeDisplayMode() const { return mCallGraphTimeDisplayMode; }
    EFunctionListTimeDisplayMode GetFunctionListTimeDisplayMode() const
    {
        return mFunctionListTimeDisplayMode;
    }
    const CallGraphHeaderSet& GetVisibleHeaders() const { return mVisibleHeaders; }
    bool IsPieChartVisible() const { return mPieChartVisible; }
    const ThreadSelectorSettings& GetThreadSelectorSettings() const { return mThreadSelectorSettings; }

    void SetCallGraphTimeDisplayMode(ECallGraphTimeDisplayMode mode);
    void SetFunctionListTimeDisplayMode(EFunctionListTimeDisplayMode mode);
    void SetPieChartVisible(bool visible);
    void SetThreadSelectorProcessMode(ThreadOrganizationModel::EProcessMode mode);
    /// Stores `headers` without SampleCount (that column is never shown through the settings),
    /// tells every subscriber the stored set, then saves.
    void SetVisibleHeaders(const CallGraphHeaderSet& headers);

    /// Calls `callback` with the stored set whenever SetVisibleHeaders ran, until the returned
    /// registration is destroyed. Callbacks run under the signal's lock and must not change the
    /// visible headers again.
    [[nodiscard]] Utility::SignalRegistration
    SubscribeVisibleHeaders(std::function<void(const CallGraphHeaderSet&)> callback);

    /// Every column but SampleCount, in a set shaped like the stored one.
    static CallGraphHeaderSet DefaultVisibleHeaders();

private:
    friend void ResetCallGraphSettings(CallGraphSettings& settings);

    void AssignVisibleHeaders(const CallGraphHeaderSet& headers);

    Utility::Signal<const CallGraphHeaderSet&> mVisibleHeadersChanged{"VisibleHeadersChanged"};
    ECallGraphTimeDisplayMode mCallGraphTimeDisplayMode = ECallGraphTimeDisplayMode::Milliseconds;
    EFunctionListTimeDisplayMode mFunctionListTimeDisplayMode = EFunctionListTimeDisplayMode::Milliseconds;
    CallGraphHeaderSet mVisibleHeaders;
    bool mPieChartVisible = true;
    ThreadSelectorSettings mThreadSelectorSettings;
};

/// Puts the display modes, the visible headers and the pie chart back to their defaults; the
/// thread selector's mode stays. Neither saves nor notifies.
void ResetCallGraphSettings(CallGraphSettings& settings);

/// Reads kCallGraphSettingsFileName through `registry`. Null with an error record when the file
/// is missing (code 1), unreadable, or holds no CallGraphSettings object (code 6).
std::unique_ptr<CallGraphSettings> LoadCallGraphSettings(const RTTI::Registry& registry,
                                                         Serialization::ErrorList& errors);
/// Writes the record as the only object of kCallGraphSettingsFileName; logs a failure.
void SaveCallGraphSettings(const CallGraphSettings& settings);

} // namespace Profiler
