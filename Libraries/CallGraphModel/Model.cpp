#include "CallGraphModel/Model.h"

namespace Profiler {

QX_RTTI_DEFINE_CLASS(Profiler::Model, 1) {}

} // namespace Profiler
