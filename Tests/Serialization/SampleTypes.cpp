#include "SampleTypes.h"

#include "Serialization/Schema.h"

using namespace Sample;

QX_RTTI_DEFINE_CLASS(Sample::Frame, 1)
{
    type.Property("Address", &Frame::mAddress).Property("ModuleIndex", &Frame::mModuleIndex);
}

QX_RTTI_DEFINE_CLASS(Sample::ThreadInfo, 1)
{
    type.Property("ProcessID", &ThreadInfo::mProcessID)
        .Property("ThreadID", &ThreadInfo::mThreadID)
        .Property("Name", &ThreadInfo::mName)
        .Property("StartTimeMs", &ThreadInfo::mStartTimeMs)
        .Property("EndTimeMs", &ThreadInfo::mEndTimeMs)
        .Property("State", &ThreadInfo::mState)
        .Property("Samples", &ThreadInfo::mSamples);
}

QX_RTTI_DEFINE_CLASS(Sample::Module, 2)
{
    type.Property("Name", &Module::mName);
}

QX_RTTI_DEFINE_CLASS(Sample::NativeModule, 2)
{
    type.Base<Module>()
        .Property("Path", &NativeModule::mPath)
        .Property("ImageSize", &NativeModule::mImageSize)
        .Property("Functions", &NativeModule::mFunctions);
}

QX_RTTI_DEFINE_CLASS(Sample::UnregisteredModule, 1)
{
    type.Base<Module>();
}

QX_RTTI_DEFINE_CLASS(Sample::Annotation, 1)
{
    type.Property("Note", &Annotation::mNote);
}

QX_RTTI_DEFINE_CLASS(Sample::JITModule, 1)
{
    type.Base<Module>().Base<Annotation>().Property("ModuleID", &JITModule::mModuleID);
}

QX_RTTI_DEFINE_CLASS(Sample::Settings, 1)
{
    type.Property("Enabled", &Settings::mEnabled)
        .Property("Scale", &Settings::mScale)
        .Property("Small", &Settings::mSmall)
        .Property("Medium", &Settings::mMedium)
        .Property("Port", &Settings::mPort)
        .Property("DefaultState", &Settings::mDefaultState)
        .Property("VisibleStates", &Settings::mVisibleStates)
        .Property("RecentFiles", &Settings::mRecentFiles);
}

QX_RTTI_DEFINE_CLASS(Sample::Capture, 4)
{
    type.Property("RootFrame", &Capture::mRootFrame)
        .Property("Threads", &Capture::mThreads)
        .Property("ThreadsByID", &Capture::mThreadsByID)
        .Property("Selected", &Capture::mSelected)
        .Property("Labels", &Capture::mLabels)
        .Property("Modules", &Capture::mModules)
        .Property("ModulesByName", &Capture::mModulesByName)
        .Property("Settings", &Capture::mSettings)
        .Property("OptionalValue", &Capture::mOptionalValue)
        .Property("Child", &Capture::mChild)
        .Property("Blob", &Capture::mBlob);
}

void Sample::RegisterSampleTypes(RTTI::Registry& registry)
{
    registry.RegisterPrimitives();
    Serialization::RegisterSchemaTypes(registry);
    registry.Register<Capture>();
    registry.Register<NativeModule>();
    registry.Register<JITModule>();
}

std::unique_ptr<Capture> Sample::MakeSampleCapture(int threads)
{
    auto capture = std::make_unique<Capture>();
    capture->mRootFrame = {0x140001000, 2};
    for (int i = 0; i < threads; ++i) {
        ThreadInfo thread;
        thread.mProcessID = 100 + i % 2;
        thread.mThreadID = ThreadID(1000 + i);
        thread.mName = "Worker " + std::to_string(i);
        thread.mStartTimeMs = 0.25 * i;
        thread.mEndTimeMs = 1e6 + i;
        thread.mState = static_cast<EState>(i % 3);
        thread.mSamples = {uint64_t(i), 0xFFFFFFFFFFFFFFFFull, 42};
        capture->mThreadsByID[thread.mThreadID] = thread;
        capture->mThreads.push_back(std::move(thread));
        capture->mSelected.insert(ThreadID(1000 + i));
    }
    capture->mLabels = {{1, "one"}, {0xDEADBEEF, "dead beef"}};

    auto native = std::make_unique<NativeModule>();
    native->mName = "app";
    native->mPath = "/usr/bin/app";
    native->mImageSize = 4096;
    native->mFunctions = {{0x10, 0}, {0x20, 0}};
    auto jit = std::make_unique<JITModule>();
    jit->mName = "jit";
    jit->mNote = "generated";
    jit->mModuleID = 77;
    capture->mModules.push_back(std::move(native));
    capture->mModules.push_back(std::move(jit));
    capture->mModules.push_back(nullptr);
    auto byName = std::make_unique<NativeModule>();
    byName->mName = "libc";
    capture->mModulesByName["libc"] = std::move(byName);
    capture->mModulesByName["none"] = nullptr;

    capture->mSettings = std::make_unique<Settings>();
    capture->mSettings->mRecentFiles = {"a.json", "b.json"};
    capture->mOptionalValue = std::make_unique<int32_t>(-12345);
    capture->mChild = std::make_unique<Capture>();
    capture->mChild->mBlob = {9, 8, 7};
    capture->mBlob = {0, 1, 2, 3, 255};
    return capture;
}
