// Loads damaged session files through Session::sLoad, with the compatibility handlers of every
// older session shape in play. A loaded session's processes, threads and modules are then
// queried. The seeds (build/FuzzCorpus/SessionLoaderFuzzer) are the current and older session
// files that the unit tests write.

#include "CaptureModel/CaptureModelTypes.h"
#include "CaptureModel/PlatformRegistry.h"
#include "CaptureModel/Session.h"
#include "RTTI/ObjectFactory.h"
#include "RTTI/Registry.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

using namespace Profiler;

namespace {

struct Context {
    RTTI::Registry registry;
    PlatformRegistry platforms;
    std::filesystem::path path;

    Context()
    {
        RegisterAllCaptureTypes(registry);
        std::string pattern = (std::filesystem::temp_directory_path() / "qx-session-fuzz-XXXXXX").string();
        const char* directory = mkdtemp(pattern.data());
        path = std::filesystem::path(directory ? directory : ".") / "fuzz.session";
    }
};

void Query(const Session& session)
{
    const ModuleDatabase& modules = session.GetModuleDatabase();
    for (const Process& process : session.GetProcessList()) {
        for (uint64_t address : {uint64_t{0}, uint64_t{0x1000}, uint64_t{0x400100}, ~uint64_t{0}}) {
            const AddressResolution resolution = modules.Resolve(process.mID, 1.0, address);
            (void)modules.GetFunctionName(resolution.Function);
            (void)modules.GetModuleName(resolution.Function);
            (void)modules.GetAbsoluteAddress(resolution.Function, 1.0);
        }
    }
    for (const Thread& thread : session.GetThreadList())
        (void)session.GetThreadStartTimeMs(thread.mThreadID);
    std::vector<ResolvedFrame> frames;
    for (uint64_t stack = 0; stack < 4; ++stack)
        (void)session.ResolveStack(0, stack, 0.0, frames);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    static Context* context = new Context;
    if (FILE* file = std::fopen(context->path.c_str(), "wb")) {
        if (size > 0)
            std::fwrite(data, 1, size, file);
        std::fclose(file);
    } else {
        return 0;
    }
    std::unique_ptr<Session> session;
    const Platform* platform = nullptr;
    Serialization::ErrorList errors;
    if (Session::sLoad(context->path, context->registry, RTTI::GetDefaultObjectFactory(), {},
                       context->platforms.GetLookup(), session, platform, errors) == 0)
        Query(*session);
    return 0;
}
