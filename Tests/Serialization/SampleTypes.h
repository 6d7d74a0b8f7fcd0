#pragma once

// A representative set of reflected classes: plain records, a class hierarchy with a two-base
// class, identifiers, enums (also in a hash set), every container kind, owning pointers to
// classes and to a primitive, and a recursive class. Shared by the tests, the fuzz targets and
// the benchmark.

#include "RTTI/Reflection.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace Sample {

QX_RTTI_IDENTIFIER(ThreadID, uint32_t, "Sample::ThreadID");

enum class EState : uint8_t { Idle, Running, Waiting };
QX_RTTI_ENUM(EState, "Sample::EState", Idle, Running, Waiting);

struct Frame {
    QX_RTTI_STRUCT(Frame);
    uint64_t mAddress = 0;
    uint32_t mModuleIndex = 0;
    friend bool operator==(const Frame&, const Frame&) = default;
};

struct ThreadInfo {
    QX_RTTI_STRUCT(ThreadInfo);
    int32_t mProcessID = 0;
    ThreadID mThreadID{};
    std::string mName;
    double mStartTimeMs = 0;
    double mEndTimeMs = 0;
    EState mState = EState::Idle;
    std::vector<uint64_t> mSamples;
    friend bool operator==(const ThreadInfo&, const ThreadInfo&) = default;
};

class Module : public RTTI::Object {
public:
    QX_RTTI_CLASS(Module);
    std::string mName;
};

class NativeModule : public Module {
public:
    QX_RTTI_CLASS(NativeModule);
    std::string mPath;
    int32_t mImageSize = 0;
    std::vector<Frame> mFunctions;
};

/// A module class that no registry holds, for the writers' refusals.
class UnregisteredModule : public Module {
public:
    QX_RTTI_CLASS(UnregisteredModule);
};

/// A plain record used as a second base.
struct Annotation {
    QX_RTTI_STRUCT(Annotation);
    virtual ~Annotation() = default;
    std::string mNote;
};

class JITModule : public Module, public Annotation {
public:
    QX_RTTI_CLASS(JITModule);
    uint64_t mModuleID = 0;
};

class Settings : public RTTI::Object {
public:
    QX_RTTI_CLASS(Settings);
    bool mEnabled = true;
    float mScale = 1.5f;
    int8_t mSmall = -3;
    int16_t mMedium = -300;
    uint16_t mPort = 8080;
    EState mDefaultState = EState::Running;
    std::unordered_set<EState> mVisibleStates{EState::Idle, EState::Running};
    std::vector<std::string> mRecentFiles;
};

class Capture : public RTTI::Object {
public:
    QX_RTTI_CLASS(Capture);
    Frame mRootFrame;
    std::vector<ThreadInfo> mThreads;
    std::map<ThreadID, ThreadInfo> mThreadsByID;
    std::set<ThreadID> mSelected;
    std::unordered_map<uint64_t, std::string> mLabels;
    std::vector<std::unique_ptr<Module>> mModules;
    std::map<std::string, std::unique_ptr<Module>> mModulesByName;
    std::unique_ptr<Settings> mSettings;
    std::unique_ptr<int32_t> mOptionalValue;
    std::unique_ptr<Capture> mChild;
    std::vector<uint8_t> mBlob;
};

/// Registers every sample class (and what they refer to) with the primitives and the schema.
void RegisterSampleTypes(RTTI::Registry& registry);

/// A capture that uses every feature, with `threads` threads.
std::unique_ptr<Capture> MakeSampleCapture(int threads = 3);

} // namespace Sample
