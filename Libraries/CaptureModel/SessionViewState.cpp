#include "CaptureModel/SessionViewState.h"

#include "CaptureModel/RemovedPropertyReader.h"

#include "Serialization/Binary.h"
#include "System/Log.h"
#include "System/Platform/FileSystem.h"

#include <cmath>
#include <system_error>

namespace Profiler {

std::filesystem::path SessionViewState::GetDirectory(const std::filesystem::path& sessionDirectory)
{
    return sessionDirectory / kDirectoryName;
}

bool SessionViewState::Save(const std::filesystem::path& sessionDirectory,
                            Serialization::ErrorList& errors) const
{
    const std::size_t before = errors.GetCount();
    const std::filesystem::path directory = GetDirectory(sessionDirectory);
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    bool saved = !error;
    if (!saved)
        errors.AddFormatted(Serialization::EErrorCode::WriteFailed, "Unable to create directory %s",
                            directory.string().c_str());
    else
        saved = Serialization::WriteBinaryFile(directory / kFileName, {this}, errors);
    if (!saved && errors.GetCount() > before)
        System::Log("Failed to save session view state: %s", errors.GetErrors()[before].message.c_str());
    return saved;
}

std::unique_ptr<SessionViewState> SessionViewState::Load(const std::filesystem::path& sessionDirectory,
                                                         const RTTI::Registry& registry,
                                                         Serialization::ErrorList& errors)
{
    const std::filesystem::path path = GetDirectory(sessionDirectory) / kFileName;
    SessionViewStateCompatibilityHandler viewStateHandler;
    VerticalScrollStateCompatibilityHandler scrollHandler;
    Serialization::CompatibilityHandlerMap handlers;
    handlers.Add<SessionViewState>(viewStateHandler);
    handlers.Add<VerticalScrollState>(scrollHandler);
    std::vector<std::unique_ptr<RTTI::Object>> roots;
    if (!Serialization::ReadBinaryFile(path, registry, RTTI::GetDefaultObjectFactory(), handlers,
                                       Serialization::EReadMode::SkipUnknownTypes, roots, errors))
        return nullptr;
    for (auto& root : roots)
        if (root && RTTI::IsA<SessionViewState>(root->GetType()))
            return std::unique_ptr<SessionViewState>(static_cast<SessionViewState*>(root.release()));
    Serialization::ErrorList::ContextScope context(errors, path.string());
    errors.Add(Serialization::EErrorCode::Corrupt,
               "The file does not appear to be a session view state file (missing SessionViewState object)");
    return nullptr;
}

bool SessionViewStateCompatibilityHandler::ReadRemovedProperty(
    Serialization::BinaryReader& reader, Serialization::BufferCursor& cursor, void* object,
    const Serialization::CompoundSchema&, const Serialization::PropertySchema& storedProperty,
    Serialization::ErrorList& errors)
{
    if (storedProperty.mName != "ThreadSelectionState")
        return true;
    auto state = std::make_unique<ThreadViewState>();
    bool present = false;
    if (!Detail::ReadRemovedObject(reader, cursor, storedProperty, *state, present, errors))
        return false;
    if (present)
        static_cast<SessionViewState*>(object)->mThreadViewState = std::move(state);
    return true;
}

bool VerticalScrollStateCompatibilityHandler::ReadRemovedProperty(
    Serialization::BinaryReader& reader, Serialization::BufferCursor& cursor, void* object,
    const Serialization::CompoundSchema&, const Serialization::PropertySchema& storedProperty,
    Serialization::ErrorList& errors)
{
    if (storedProperty.mName != "ScrollYPos")
        return true;
    double value = 0.0;
    if (storedProperty.mType.mTypeName == SerializedAnimatableFloat::StaticType().GetName()) {
        SerializedAnimatableFloat stored;
        if (!reader.ReadPropertyValue(cursor, storedProperty, stored, errors))
            return false;
        value = stored.mValue;
    } else if (storedProperty.mType.mTypeName == SerializedAnimatableDouble::StaticType().GetName()) {
        SerializedAnimatableDouble stored;
        if (!reader.ReadPropertyValue(cursor, storedProperty, stored, errors))
            return false;
        value = stored.mValue;
    } else {
        return true;
    }
    const auto rounded = static_cast<int32_t>(std::lround(value));
    auto& position = static_cast<VerticalScrollState*>(object)->mScrollYPosInt;
    position.mValue = position.mStartValue = position.mTargetValue = rounded;
    return true;
}

} // namespace Profiler

#define QX_ANIMATABLE_PROPERTIES(Class)                                                                      \
    type.Property("Value", &Class::mValue)                                                                   \
        .Property("StartValue", &Class::mStartValue)                                                         \
        .Property("TargetValue", &Class::mTargetValue)                                                       \
        .Property("CurvePosition", &Class::mCurvePosition)                                                   \
        .Property("IsDirty", &Class::mIsDirty)

QX_RTTI_DEFINE_CLASS(Profiler::SerializedAnimatableInt, 1)
{
    QX_ANIMATABLE_PROPERTIES(SerializedAnimatableInt);
}

QX_RTTI_DEFINE_CLASS(Profiler::SerializedAnimatableFloat, 1)
{
    QX_ANIMATABLE_PROPERTIES(SerializedAnimatableFloat);
}

QX_RTTI_DEFINE_CLASS(Profiler::SerializedAnimatableDouble, 1)
{
    QX_ANIMATABLE_PROPERTIES(SerializedAnimatableDouble);
}

#undef QX_ANIMATABLE_PROPERTIES

QX_RTTI_DEFINE_CLASS(Profiler::TimelineState, 1)
{
    type.Property("StartTime", &TimelineState::mStartTime)
        .Property("EndTime", &TimelineState::mEndTime)
        .Property("TimeLeft", &TimelineState::mTimeLeft)
        .Property("TimeRight", &TimelineState::mTimeRight)
        .Property("SelectedLeftTime", &TimelineState::mSelectedLeftTime)
        .Property("SelectedRightTime", &TimelineState::mSelectedRightTime);
}

QX_RTTI_DEFINE_CLASS(Profiler::VerticalScrollState, 1)
{
    type.Property("ScrollYPosInt", &VerticalScrollState::mScrollYPosInt);
}

QX_RTTI_DEFINE_CLASS(Profiler::ThreadViewState, 1)
{
    type.Alias("Profiler::ThreadSelectionState")
        .Property("SelectedThreads", &ThreadViewState::mSelectedThreads)
        .Property("VisibleThreads", &ThreadViewState::mVisibleThreads);
}

QX_RTTI_DEFINE_CLASS(Profiler::SessionViewState, 1)
{
    type.Property("TimelineState", &SessionViewState::mTimelineState)
        .Property("VerticalScrollState", &SessionViewState::mVerticalScrollState)
        .Property("ThreadViewState", &SessionViewState::mThreadViewState)
        .Property("VerticalSplitterPos", &SessionViewState::mVerticalSplitterPos)
        .Property("SelectionInfoVisible", &SessionViewState::mSelectionInfoVisible);
}
