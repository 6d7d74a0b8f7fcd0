#pragma once

#include "CaptureModel/Identifiers.h"
#include "RTTI/Reflection.h"
#include "Serialization/CompatibilityHandler.h"

#include <filesystem>
#include <memory>
#include <set>

namespace RTTI {
class Registry;
}

namespace Profiler {

/// A value that the timeline animates towards a target.
template <class T> struct SerializedAnimatable {
    T mValue{};
    T mStartValue{};
    T mTargetValue{};
    double mCurvePosition = 0.0;
    bool mIsDirty = false;
};

struct SerializedAnimatableInt : SerializedAnimatable<int32_t> {
    QX_RTTI_STRUCT(SerializedAnimatableInt);
};
struct SerializedAnimatableFloat : SerializedAnimatable<float> {
    QX_RTTI_STRUCT(SerializedAnimatableFloat);
};
struct SerializedAnimatableDouble : SerializedAnimatable<double> {
    QX_RTTI_STRUCT(SerializedAnimatableDouble);
};

/// The visible and selected time ranges of the timeline.
class TimelineState : public RTTI::Object {
public:
    QX_RTTI_CLASS(TimelineState);

    double mStartTime = 0.0;
    double mEndTime = 0.0;
    SerializedAnimatableDouble mTimeLeft;
    SerializedAnimatableDouble mTimeRight;
    double mSelectedLeftTime = 0.0;
    double mSelectedRightTime = 0.0;
};

/// How far the thread list is scrolled.
class VerticalScrollState : public RTTI::Object {
public:
    QX_RTTI_CLASS(VerticalScrollState);

    SerializedAnimatableInt mScrollYPosInt;
};

/// Which threads are selected and shown (older files name it "Profiler::ThreadSelectionState").
class ThreadViewState : public RTTI::Object {
public:
    QX_RTTI_CLASS(ThreadViewState);

    std::set<ThreadID> mSelectedThreads;
    std::set<ThreadID> mVisibleThreads;
};

/// What the host's session window looked like, kept in "ViewState/Session.dat".
class SessionViewState : public RTTI::Object {
public:
    QX_RTTI_CLASS(SessionViewState);

    static constexpr const char* kDirectoryName = "ViewState";
    static constexpr const char* kFileName = "Session.dat";

    /// "ViewState" in the session directory; view plugins keep their files there too.
    static std::filesystem::path GetDirectory(const std::filesystem::path& sessionDirectory);
    /// Writes "ViewState/Session.dat" (creating the directory); a failure is also logged as
    /// "Failed to save session view state: %s".
    bool Save(const std::filesystem::path& sessionDirectory, Serialization::ErrorList& errors) const;
    static std::unique_ptr<SessionViewState> Load(const std::filesystem::path& sessionDirectory,
                                                  const RTTI::Registry& registry,
                                                  Serialization::ErrorList& errors);

    std::unique_ptr<TimelineState> mTimelineState;
    std::unique_ptr<VerticalScrollState> mVerticalScrollState;
    std::unique_ptr<ThreadViewState> mThreadViewState;
    float mVerticalSplitterPos = 0.0f;
    bool mSelectionInfoVisible = false;
};

/// Reads the "ThreadSelectionState" of older view states into "ThreadViewState".
class SessionViewStateCompatibilityHandler final : public Serialization::CompatibilityHandler {
public:
    bool ReadRemovedProperty(Serialization::BinaryReader& reader, Serialization::BufferCursor& cursor,
                             void* object, const Serialization::CompoundSchema& storedClass,
                             const Serialization::PropertySchema& storedProperty,
                             Serialization::ErrorList& errors) override;
};

/// Reads the floating-point "ScrollYPos" of older scroll states into "ScrollYPosInt", rounded.
class VerticalScrollStateCompatibilityHandler final : public Serialization::CompatibilityHandler {
public:
    bool ReadRemovedProperty(Serialization::BinaryReader& reader, Serialization::BufferCursor& cursor,
                             void* object, const Serialization::CompoundSchema& storedClass,
                             const Serialization::PropertySchema& storedProperty,
                             Serialization::ErrorList& errors) override;
};

} // namespace Profiler
