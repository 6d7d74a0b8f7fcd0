#include "CaptureModel/Model.h"

QX_RTTI_DEFINE_CLASS(Profiler::Model, 1) {}
