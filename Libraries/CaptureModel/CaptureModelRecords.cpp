#include "CaptureModel/CaptureModelRecords.h"

QX_RTTI_DEFINE_CLASS(Profiler::GeneralSettings, 1) {}
QX_RTTI_DEFINE_CLASS(Profiler::SharedSymbolSettings, 1) {}
QX_RTTI_DEFINE_CLASS(Profiler::CaptureMethodConfiguration, 1) {}
QX_RTTI_DEFINE_CLASS(Profiler::CaptureImportData, 1) {}
QX_RTTI_DEFINE_CLASS(Profiler::CaptureInitProgress, 1) {}
QX_RTTI_DEFINE_CLASS(Profiler::ISymbolModuleKey, 1) {}
QX_RTTI_DEFINE_CLASS(Profiler::ChildProcessRules, 1) {}
QX_RTTI_DEFINE_CLASS(Profiler::LLMToolRequest, 1) {}
QX_RTTI_DEFINE_CLASS(Profiler::LLMSessionInfo, 1) {}
