#include "CaptureModelTestSupport.h"
#include "LegacyShapes.h"

#include "CaptureModel/FunctionCompatibilityHandler.h"
#include "CaptureModel/FunctionDataCache.h"
#include "CaptureModel/LinuxPlatform.h"
#include "CaptureModel/SessionViewState.h"
#include "RTTI/ObjectFactory.h"
#include "Serialization/Binary.h"
#include "Support/TempDirectory.h"

#include <gtest/gtest.h>

namespace {

using namespace Profiler;
using TestSupport::LoadSession;

/// Keeps a copy of a session file as a seed of the session loader's fuzz target.
std::filesystem::path Seed(const std::filesystem::path& path, const std::string& name)
{
    TestSupport::WriteFuzzSeed("SessionLoaderFuzzer", name, TestSupport::ReadBytes(path));
    return path;
}

/// Writes the roots as a session file, seeding the fuzz target with it.
std::filesystem::path WriteOld(const std::filesystem::path& path,
                               const std::vector<const RTTI::Object*>& roots)
{
    TestSupport::CaptureModelRegistry(); // classes are written only once a registry numbered them
    Serialization::ErrorList errors;
    EXPECT_TRUE(Serialization::WriteBinaryFile(path, roots, errors)) << errors.ToString();
    return Seed(path, path.filename().string());
}

Thread MakeThread(int32_t id, std::string name)
{
    Thread thread;
    thread.mThreadID = id;
    thread.mDisplayThreadID = id;
    thread.mThreadName = std::move(name);
    return thread;
}

Legacy::SessionV5 MakeSingleProcessSession(const Serialization::SerializableGUID& platform)
{
    Legacy::SessionV5 old;
    old.mSessionInfo.mSampleIntervalMs = 0.5;
    old.mSessionInfo.mSessionStartTimeMs = 10.0;
    old.mSessionInfo.mSessionEndTimeMs = 20.0;
    old.mSessionInfo.mProcessID = 77;
    old.mSessionInfo.mIs64BitProcess = false;
    old.mSessionInfo.mPlatformID = platform;
    old.mThreads[ThreadID{5}] = MakeThread(5, "main");
    old.mThreads[ThreadID{6}] = MakeThread(6, "io");
    old.mThreadOrder = {6, 5};
    return old;
}

TEST(SessionUpgrade, SessionWithoutHeaderBecomesOneProcessNamedUnknownOnWindowsOnly)
{
    TestSupport::TempDirectory temp;
    const Legacy::SessionV5 old = MakeSingleProcessSession(WindowsPlatform::kID);
    auto loaded = LoadSession(WriteOld(temp / "v5.session", {&old}));
    ASSERT_EQ(loaded.status, 0) << loaded.FirstError();
    const Session& session = *loaded.session;
    EXPECT_EQ(loaded.platform->GetID(), WindowsPlatform::kID);
    EXPECT_EQ(session.GetSampleIntervalMs(), 0.5);
    EXPECT_EQ(session.GetStartTimeMs(), 10.0);

    ASSERT_EQ(session.GetProcessList().size(), 1u);
    const Process& process = session.GetProcessList()[0];
    EXPECT_EQ(process.mID, 77);
    EXPECT_EQ(process.mName, "Unknown");
    EXPECT_FALSE(process.mIs64Bit);
    EXPECT_EQ(process.mThreadOrder, (std::vector<int32_t>{6, 5}));
    ASSERT_EQ(session.GetThreadList().size(), 2u);
    EXPECT_EQ(session.FindThread(6)->mProcessID, 77);
    EXPECT_EQ(session.FindThread(6)->mThreadName, "io");

    const auto& processes = session.GetProcessCompatibilityMap();
    ASSERT_EQ(processes.size(), 1u);
    EXPECT_EQ(static_cast<uint32_t>(processes.at(CompatibilityKey{77})), 0x80000000u);
    const auto& threads = session.GetThreadCompatibilityMap();
    EXPECT_EQ(static_cast<int32_t>(threads.at(CompatibilityKey{5})), 0);
    EXPECT_EQ(static_cast<int32_t>(threads.at(CompatibilityKey{6})), 1);
    // The base platform session of a platform without data of its own.
    ASSERT_NE(session.GetPlatformSession(), nullptr);
    EXPECT_EQ(session.GetPlatformSession()->GetType().GetName(), "Profiler::PlatformSession");

    // Such sessions of other platforms are refused.
    const Legacy::SessionV5 otherPlatform = MakeSingleProcessSession(LinuxPlatform::kID);
    auto refused = LoadSession(WriteOld(temp / "linux-v5.session", {&otherPlatform}));
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.session, nullptr);
    EXPECT_TRUE(TestSupport::HasOnlyError(refused.errors, Serialization::EErrorCode::Compatibility,
                                          "Unable to upgrade non-Windows sessions to new format"));
}

TEST(SessionUpgrade, VersionSixSessionsNeedExactlyOneProcess)
{
    TestSupport::TempDirectory temp;
    SessionInfo header;
    header.mPlatformID = LinuxPlatform::kID;

    Legacy::SessionV6 one;
    Legacy::ProcessWithThreads& process = one.mProcesses[ProcessID{42}];
    process.mID = 42;
    process.mName = "server";
    process.mThreads[ThreadID{43}] = MakeThread(43, "accept");
    process.mThreads[ThreadID{44}] = MakeThread(44, "worker");
    auto loaded = LoadSession(WriteOld(temp / "v6.session", {&header, &one}));
    ASSERT_EQ(loaded.status, 0) << loaded.FirstError();
    ASSERT_EQ(loaded.session->GetProcessList().size(), 1u);
    EXPECT_EQ(loaded.session->GetProcessList()[0].mName, "server");
    EXPECT_EQ(loaded.session->GetProcessList()[0].mThreadOrder, (std::vector<int32_t>{43, 44}));
    EXPECT_EQ(loaded.session->FindThread(44)->mProcessID, 42);
    EXPECT_EQ(static_cast<uint32_t>(loaded.session->GetProcessCompatibilityMap().at(CompatibilityKey{42})),
              0x80000000u);

    // Two processes, each with threads, fail while the second one is read; two processes of
    // which one has threads fail once the session is complete.
    Legacy::SessionV6 two = {};
    two.mProcesses[ProcessID{1}].mThreads[ThreadID{2}] = MakeThread(2, "a");
    two.mProcesses[ProcessID{3}].mThreads[ThreadID{4}] = MakeThread(4, "b");
    Legacy::SessionV6 twoOneThreaded = {};
    twoOneThreaded.mProcesses[ProcessID{1}].mThreads[ThreadID{2}] = MakeThread(2, "a");
    twoOneThreaded.mProcesses[ProcessID{3}].mID = 3;
    for (const auto* old : {&two, &twoOneThreaded}) {
        auto failed = LoadSession(
            WriteOld(temp / (old == &two ? "v6-two.session" : "v6-two-one.session"), {&header, old}));
        EXPECT_EQ(failed.status, 1);
        EXPECT_TRUE(
            TestSupport::HasOnlyError(failed.errors, Serialization::EErrorCode::Compatibility,
                                      "Unable to upgrade traces with multiple processes to new format"));
    }
}

TEST(SessionUpgrade, VersionOneModuleDatabaseKeepsItsNativeModules)
{
    TestSupport::TempDirectory temp;
    SessionInfo header;
    header.mPlatformID = LinuxPlatform::kID;
    Legacy::SessionWithModulesV1 old;
    auto module = std::make_unique<Legacy::NativeModuleRenumbered>();
    module->mName = "libold.so";
    module->mImageSize = 0x1000;
    module->mResolveStatus = Legacy::EResolveStatusRenumbered::OldCapture;
    Function function;
    function.mRelativeAddress = 0x100;
    function.mSize = 0x80;
    function.mName = "oldFunction";
    module->mFunctions.push_back(function);
    old.mModuleDatabase.mModules.push_back(std::move(module));
    old.mModuleDatabase.mNativeModuleInstances.push_back({0x7000, 0.0, 1e9, 9, 0});
    auto loaded = LoadSession(WriteOld(temp / "modules-v1.session", {&header, &old}));
    ASSERT_EQ(loaded.status, 0) << loaded.FirstError();

    const ModuleDatabase& modules = loaded.session->GetModuleDatabase();
    ASSERT_EQ(modules.GetNativeModules().size(), 1u);
    const NativeModule& native = *modules.GetNativeModules()[0];
    EXPECT_EQ(native.mName, "libold.so");
    // Stored as number 7 under the name "OldCapture", which is 3 in the running code.
    EXPECT_EQ(native.mResolveStatus, NativeModule::EResolveStatus::OldCapture);
    const AddressResolution resolution = modules.Resolve(9, 1.0, 0x7140);
    EXPECT_EQ(modules.GetFunctionName(resolution.Function), "oldFunction");

    old.mModuleDatabase.mModules.push_back(std::make_unique<JITModule>());
    auto failed = LoadSession(WriteOld(temp / "modules-v1-jit.session", {&header, &old}));
    EXPECT_EQ(failed.status, 1);
    EXPECT_TRUE(
        TestSupport::HasOnlyError(failed.errors, Serialization::EErrorCode::Compatibility,
                                  "Encountered a non-NativeModule during upgrade of V1 ModuleDatabase."));
}

TEST(SessionUpgrade, FunctionsStoredUnderFormerNamesKeepTheirAddresses)
{
    TestSupport::TempDirectory temp;
    Legacy::FunctionHolderOld old;
    old.mNative = {0x1230, 0x40, "native"};
    old.mJit = {0x7f0000001000, "jitted", 5, 0x7f0000000000, 1.0, 2.0};
    TestSupport::CaptureModelRegistry();
    Serialization::ErrorList errors;
    ASSERT_TRUE(Serialization::WriteBinaryFile(temp / "functions.dat", {&old}, errors)) << errors.ToString();

    FunctionCompatibilityHandler handler;
    Serialization::CompatibilityHandlerMap handlers;
    handlers.Add<Function>(handler);
    std::vector<std::unique_ptr<RTTI::Object>> roots;
    ASSERT_TRUE(Serialization::ReadBinaryFile(temp / "functions.dat", TestSupport::CaptureModelRegistry(),
                                              RTTI::GetDefaultObjectFactory(), handlers,
                                              Serialization::EReadMode::Strict, roots, errors))
        << errors.ToString();
    ASSERT_EQ(roots.size(), 1u);
    const auto& holder = dynamic_cast<const Legacy::FunctionHolder&>(*roots[0]);
    EXPECT_EQ(holder.mNative.mRelativeAddress, 0x1230u);
    EXPECT_EQ(holder.mNative.mName, "native");
    EXPECT_EQ(holder.mJit.mRelativeAddress, 0u);
    EXPECT_EQ(holder.mJit.mName, "jitted");
    // Older files name the platform identifier by its former name too.
    EXPECT_NE(TestSupport::CaptureModelRegistry().FindType("Profiler::SerializableGUID"), nullptr);
}

TEST(SessionUpgrade, VersionOneCacheEntriesArePlacedThroughTheModules)
{
    TestSupport::TempDirectory temp;
    auto loaded = LoadSession(TestSupport::WriteSmallCapture(temp / "cache"));
    ASSERT_EQ(loaded.status, 0) << loaded.FirstError();
    using A = TestSupport::SmallCaptureAddresses;

    Legacy::FunctionDataCacheV1 old;
    old.mSourceFiles["/src/main.cpp"] = "/cache/main.cpp";
    Legacy::CacheEntryV1 entry;
    entry.mFunctionAddress = A::kAppBase10 + A::kMain + 0x10;
    entry.mStartTimeMs = 1.0;
    entry.mProcessID = 10;
    entry.mSource = "int main() {}";
    entry.mAddressToLineMap[entry.mFunctionAddress] = 3;
    old.mEntries.push_back(entry);
    const auto path = temp / FunctionDataCache::kFileName;
    Serialization::ErrorList errors;
    ASSERT_TRUE(Serialization::WriteBinaryFile(path, {&old}, errors));

    auto cache = FunctionDataCache::Load(path, TestSupport::CaptureModelRegistry(),
                                         &loaded.session->GetModuleDatabase(), errors);
    ASSERT_NE(cache, nullptr) << errors.ToString();
    const ResolvedAddress main =
        loaded.session->GetModuleDatabase().Resolve(10, 1.0, entry.mFunctionAddress).Function;
    const auto found = cache->Find(main);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->mSource, "int main() {}");
    EXPECT_EQ(found->mAddressToLineMap.at(entry.mFunctionAddress), 3);
    EXPECT_EQ(cache->FindSourceFile("/src/main.cpp"), "/cache/main.cpp");

    // Entries added later replace older ones of the same function and survive a save.
    FunctionDataCache::CacheEntry replacement;
    replacement.mAddress = main;
    replacement.mSource = "replaced";
    cache->Add(replacement);
    EXPECT_EQ(cache->GetEntryCount(), 1u);
    ASSERT_TRUE(cache->Save(path, errors));
    auto again = FunctionDataCache::Load(path, TestSupport::CaptureModelRegistry(), nullptr, errors);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->Find(main)->mSource, "replaced");
}

TEST(SessionUpgrade, OlderViewStatesKeepTheirSelectionAndScrollPosition)
{
    TestSupport::TempDirectory temp;
    Legacy::SessionViewStateOld old;
    old.mVerticalScrollState = std::make_unique<Legacy::VerticalScrollStateOld>();
    old.mVerticalScrollState->mScrollYPos.mValue = 12.6f;
    old.mThreadSelectionState = std::make_unique<Legacy::ThreadSelectionStateOld>();
    old.mThreadSelectionState->mSelectedThreads = {ThreadID{1}, ThreadID{2}};
    old.mThreadSelectionState->mVisibleThreads = {ThreadID{1}};
    old.mVerticalSplitterPos = 0.5f;
    TestSupport::CaptureModelRegistry();
    const auto directory = SessionViewState::GetDirectory(temp.GetPath());
    std::filesystem::create_directories(directory);
    Serialization::ErrorList errors;
    ASSERT_TRUE(Serialization::WriteBinaryFile(directory / SessionViewState::kFileName, {&old}, errors));

    auto state = SessionViewState::Load(temp.GetPath(), TestSupport::CaptureModelRegistry(), errors);
    ASSERT_NE(state, nullptr) << errors.ToString();
    ASSERT_NE(state->mThreadViewState, nullptr);
    EXPECT_EQ(state->mThreadViewState->mSelectedThreads, (std::set<ThreadID>{ThreadID{1}, ThreadID{2}}));
    EXPECT_EQ(state->mThreadViewState->mVisibleThreads, (std::set<ThreadID>{ThreadID{1}}));
    ASSERT_NE(state->mVerticalScrollState, nullptr);
    const auto& position = state->mVerticalScrollState->mScrollYPosInt;
    EXPECT_EQ(position.mValue, 13);
    EXPECT_EQ(position.mStartValue, 13);
    EXPECT_EQ(position.mTargetValue, 13);
    EXPECT_EQ(state->mVerticalSplitterPos, 0.5f);

    // A file without the root is refused.
    SessionInfo other;
    ASSERT_TRUE(Serialization::WriteBinaryFile(directory / SessionViewState::kFileName, {&other}, errors));
    EXPECT_EQ(SessionViewState::Load(temp.GetPath(), TestSupport::CaptureModelRegistry(), errors), nullptr);
    EXPECT_EQ(errors.GetErrors().back().message,
              "The file does not appear to be a session view state file (missing SessionViewState object)");
}

TEST(SessionUpgrade, CurrentCapturesSeedTheLoaderFuzzTarget)
{
    TestSupport::TempDirectory temp;
    const auto path = TestSupport::WriteSmallCapture(temp / "seed");
    ASSERT_FALSE(path.empty());
    EXPECT_FALSE(TestSupport::ReadBytes(Seed(path, "current.session")).empty());
}

} // namespace
