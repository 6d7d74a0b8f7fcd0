#pragma once

namespace RTTI {
class Registry;
}

namespace Profiler {

/// Registers the capture data model's classes into the registry's current module, in the
/// order in which the plugin lists them (with every type they refer to).
void RegisterCaptureModelTypes(RTTI::Registry& registry);
/// The view state classes of a session ("ViewState/Session.dat").
void RegisterSessionViewStateTypes(RTTI::Registry& registry);
/// The function data records of symbol resolution and the function data cache.
void RegisterFunctionDataTypes(RTTI::Registry& registry);
/// Everything above, the capture model's remaining classes (models, platform sessions, the
/// shapes that older session files used) and the primitives and schema classes: what a
/// program needs to read and write captures.
void RegisterAllCaptureTypes(RTTI::Registry& registry);

} // namespace Profiler
