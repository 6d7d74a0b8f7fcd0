#include "CaptureModel/BrokenStackReader.h"
#include "CaptureModel/CallstackNodeStore.h"
#include "CaptureModel/FunctionCompatibilityHandler.h"
#include "CaptureModel/LinuxPlatform.h"
#include "CaptureModel/ModuleDatabaseCompatibilityHandler.h"
#include "CaptureModel/Session.h"
#include "CaptureModel/SessionCompatibilityHandler.h"
#include "CaptureModel/SharedModel.h"
#include "CaptureModel/TraceEventStream.h"
#include "CaptureModel/TraceEventStreamCompatibilityHandler.h"
#include "Serialization/BinaryFileReader.h"
#include "System/Platform/FileSystem.h"

namespace Profiler {

int Session::sLoad(const std::filesystem::path& path, RTTI::Registry& registry,
                   const RTTI::ObjectFactory& factory, std::span<SessionPlugin* const> plugins,
                   const PlatformLookup& platforms, std::unique_ptr<Session>& outSession,
                   const Platform*& outPlatform, Serialization::ErrorList& errors)
{
    const std::filesystem::path sessionPath = GetSessionFilePath(path);
    Serialization::ErrorList::ContextScope context(errors, sessionPath.string());

    // 1. The handlers of every stored class whose older shapes still load.
    SessionInfoCompatibilityHandler infoHandler;
    ProcessCompatibilityHandler processHandler;
    ModuleDatabaseCompatibilityHandler moduleDatabaseHandler;
    FunctionCompatibilityHandler functionHandler;
    TraceEventStreamCompatibilityHandler streamHandler;
    SessionInfo info;
    SessionCompatibilityHandler sessionHandler(info, infoHandler, processHandler);
    Serialization::CompatibilityHandlerMap handlers;
    handlers.Add<SessionInfo>(infoHandler);
    handlers.Add<Process>(processHandler);
    handlers.Add<Session>(sessionHandler);
    handlers.Add<ModuleDatabase>(moduleDatabaseHandler);
    handlers.Add<Function>(functionHandler);
    handlers.Add<TraceEventStream>(streamHandler);

    // 2. Open the file.
    Serialization::BinaryFileReader reader(Serialization::EReadMode::SkipUnknownTypes, registry, factory,
                                           handlers);
    if (!reader.Open(sessionPath, errors))
        return 1;

    // 3. The header, when the file has one. Files written before it existed were recorded on
    // Windows, the only platform of that time; their upgrade fills in the rest.
    if (reader.Contains<SessionInfo>()) {
        const std::size_t before = errors.GetCount();
        std::unique_ptr<SessionInfo> header = reader.ReadObject<SessionInfo>(errors);
        if (!header) {
            if (errors.GetCount() == before)
                errors.Add(Serialization::EErrorCode::Corrupt,
                           "The file does not appear to be a session file (missing SessionHeader object)");
            return 1;
        }
        info = *header;
    } else {
        info.mPlatformID = WindowsPlatform::kID;
    }

    // 4. The platform that recorded the capture.
    const Platform* platform = platforms ? platforms(info.mPlatformID) : nullptr;
    if (!platform) {
        errors.Add(
            Serialization::EErrorCode::WriteFailed,
            "This session was created for a platform for which the plugin can no longer be found. Please "
            "ensure the platform plugin is installed before opening the file.");
        return 1;
    }

    // 5. The platform's and the plugins' own classes.
    platform->RegisterTypes(registry, handlers);
    for (SessionPlugin* plugin : plugins)
        if (plugin)
            plugin->RegisterSessionTypes(registry, handlers);

    // 6. Every root; the session is the first Session among them.
    std::vector<std::unique_ptr<RTTI::Object>> roots;
    const std::size_t errorsBefore = errors.GetCount();
    if (!reader.ReadAll(roots, errors)) {
        if (errors.GetCount() == errorsBefore)
            errors.Add(Serialization::EErrorCode::Corrupt, "The file does not appear to be a session file "
                                                           "(missing Session object)");
        return 1;
    }
    std::unique_ptr<Session> session;
    for (auto& root : roots) {
        if (root && RTTI::IsA<Session>(root->GetType())) {
            session.reset(static_cast<Session*>(root.release()));
            break;
        }
    }
    if (!session) {
        errors.Add(Serialization::EErrorCode::Corrupt,
                   "The file does not appear to be a session file (missing "
                   "Session object)");
        return 1;
    }
    session->mInfo = info;
    session->mPath = sessionPath;

    // 7. Finish.
    if (!session->Finish(*platform, registry, errors))
        return 1;
    outSession = std::move(session);
    outPlatform = platform;
    return 0;
}

bool Session::Finish(const Platform& platform, const RTTI::Registry& registry,
                     Serialization::ErrorList& errors)
{
    mPlatform = &platform;
    const std::filesystem::path directory = GetDirectory();

    // (a) The call stack node store, when the capture has one.
    const std::filesystem::path storePath = directory / CallstackNodeStore::kFileName;
    if (System::Platform::FileExists(storePath)) {
        auto store = std::make_unique<CallstackNodeStore>();
        if (!store->Load(storePath, errors))
            return false;
        mNodeStore = std::move(store);
    }

    // (b) The event stream. A capture without one still opens; it has no events to show.
    Serialization::ErrorList warnings;
    mEventStream = TraceEventStream::Open(directory, registry, warnings);
    AddWarning(warnings);

    // (c) The module database builds its lookups on first use.
    mModuleDatabase.Prepare();

    // (d) The platform session.
    if (!mPlatformSession)
        mPlatformSession = platform.CreatePlatformSession();
    mPlatformSession->Attach(*this);

    // (e) The broken stack ranges and, with them, the shared model. A capture that was never
    // processed has neither.
    if (System::Platform::FileExists(directory / BrokenStackIndex::kIndexFileName)) {
        auto brokenStacks = std::make_unique<BrokenStackReader>();
        if (brokenStacks->Open(directory, registry, warnings)) {
            mBrokenStacks = std::move(brokenStacks);
            if (System::Platform::FileExists(SharedModel::GetPath(directory)))
                mSharedModel = SharedModel::Load(directory, registry, warnings);
        }
        AddWarning(warnings);
    }
    if (!mSharedModel)
        mSharedModel = std::make_unique<SharedModel>();

    BuildIndexes();
    return true;
}

} // namespace Profiler
