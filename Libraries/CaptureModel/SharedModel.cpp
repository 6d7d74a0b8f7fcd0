#include "CaptureModel/SharedModel.h"

#include "Serialization/Binary.h"
#include "System/Platform/FileSystem.h"

#include <system_error>

namespace Profiler {

std::filesystem::path SharedModel::GetPath(const std::filesystem::path& sessionDirectory)
{
    return sessionDirectory / kDirectoryName / kFileName;
}

std::unique_ptr<SharedModel> SharedModel::Load(const std::filesystem::path& sessionDirectory,
                                               const RTTI::Registry& registry,
                                               Serialization::ErrorList& errors)
{
    const std::filesystem::path path = GetPath(sessionDirectory);
    if (!System::Platform::FileExists(path)) {
        Serialization::ErrorList::ContextScope context(errors, path.string());
        errors.Add(Serialization::EErrorCode::FileNotFound, "Unable to open file");
        return nullptr;
    }
    std::vector<std::unique_ptr<RTTI::Object>> roots;
    Serialization::CompatibilityHandler defaults; // older shapes load with the default hooks
    Serialization::CompatibilityHandlerMap handlers;
    handlers.Add<SharedModel>(defaults);
    if (!Serialization::ReadBinaryFile(path, registry, RTTI::GetDefaultObjectFactory(), handlers,
                                       Serialization::EReadMode::SkipUnknownTypes, roots, errors))
        return nullptr;
    for (auto& root : roots)
        if (root && RTTI::IsA<SharedModel>(root->GetType()))
            return std::unique_ptr<SharedModel>(static_cast<SharedModel*>(root.release()));
    Serialization::ErrorList::ContextScope context(errors, path.string());
    errors.Add(Serialization::EErrorCode::Corrupt, "The file does not appear to be a SharedModel file");
    return nullptr;
}

bool SharedModel::Save(const std::filesystem::path& sessionDirectory, Serialization::ErrorList& errors) const
{
    if (sessionDirectory.empty()) {
        errors.AddFormatted(Serialization::EErrorCode::WriteFailed, "Could not model path %s",
                            sessionDirectory.string().c_str());
        return false;
    }
    const std::filesystem::path path = GetPath(sessionDirectory);
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    if (error) {
        errors.AddFormatted(Serialization::EErrorCode::WriteFailed, "Could not model path %s",
                            path.string().c_str());
        return false;
    }
    std::lock_guard lock(mMutex);
    return Serialization::WriteBinaryFile(path, {this}, errors);
}

OpenBarProcessorFiberState SharedModel::GetFiberState() const
{
    std::lock_guard lock(mMutex);
    return mFiberState;
}

void SharedModel::SetFiberState(OpenBarProcessorFiberState state)
{
    std::lock_guard lock(mMutex);
    mFiberState = std::move(state);
}

} // namespace Profiler

QX_RTTI_DEFINE_CLASS(Profiler::OpenBarProcessorFiberState::Bar, 1)
{
    type.Property("InstrumentationContextID", &Bar::mInstrumentationContextID)
        .Property("LastAbsoluteAddress", &Bar::mLastAbsoluteAddress)
        .Property("ReturnAddress", &Bar::mReturnAddress)
        .Property("Frame", &Bar::mFrame);
}

QX_RTTI_DEFINE_CLASS(Profiler::OpenBarProcessorFiberState::FiberState, 1)
{
    type.Property("Bars", &FiberState::mBars);
}

QX_RTTI_DEFINE_CLASS(Profiler::OpenBarProcessorFiberState::FiberEvent, 1)
{
    type.Property("EventTimeMs", &FiberEvent::mEventTimeMs)
        .Property("FiberStateIndex", &FiberEvent::mFiberStateIndex);
}

QX_RTTI_DEFINE_CLASS(Profiler::OpenBarProcessorFiberState, 1)
{
    type.Property("FiberStates", &OpenBarProcessorFiberState::mFiberStates)
        .Property("FiberEvents", &OpenBarProcessorFiberState::mFiberEvents);
}

QX_RTTI_DEFINE_CLASS(Profiler::SharedModel, 5)
{
    type.Property("OpenBarProcessorFiberState", &SharedModel::mFiberState);
}
