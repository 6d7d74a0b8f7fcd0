#pragma once

// Records of the capture data model that the host's other parts fill (settings, capture
// configuration, import and assistant sessions). This library only registers them so that
// session files and settings files holding them keep loading; none carries stored properties
// here beyond those listed.

#include "RTTI/Reflection.h"

#include <cstdint>

namespace Profiler {

/// The host's general application settings.
class GeneralSettings : public RTTI::Object {
public:
    QX_RTTI_CLASS(GeneralSettings);
};

/// Symbol settings shared between the host and its plugins.
class SharedSymbolSettings : public RTTI::Object {
public:
    QX_RTTI_CLASS(SharedSymbolSettings);
};

/// How a capture is to be recorded (the recorder's configuration).
class CaptureMethodConfiguration : public RTTI::Object {
public:
    QX_RTTI_CLASS(CaptureMethodConfiguration);
};

/// The thread list of the timeline and thread selector; only its process mode is stored.
struct ThreadOrganizationModel {
    /// Whether threads are grouped under their processes or listed together.
    enum class EProcessMode : uint8_t { GroupByProcess = 0, CombineProcesses = 1 };
    QX_RTTI_NESTED_ENUM(EProcessMode, "Profiler::ThreadOrganizationModel::EProcessMode", GroupByProcess,
                        CombineProcesses);
};

/// Where an imported capture came from.
class CaptureImportData : public RTTI::Object {
public:
    QX_RTTI_CLASS(CaptureImportData);
};

/// Progress of a capture's start-up, as reported to the host.
class CaptureInitProgress : public RTTI::Object {
public:
    QX_RTTI_CLASS(CaptureInitProgress);
};

/// Whether the host reports its crashes (the values are this program's own).
enum class ECrashReportingMode : uint8_t { Ask = 0, Always = 1, Never = 2 };
QX_RTTI_ENUM(ECrashReportingMode, "Profiler::ECrashReportingMode", Ask, Always, Never);

/// The identity of a module for symbol lookups; platforms derive their keys from it.
class ISymbolModuleKey : public RTTI::Object {
public:
    QX_RTTI_CLASS(ISymbolModuleKey);
};

/// Which child processes of a recorded program are recorded too.
class ChildProcessRules : public RTTI::Object {
public:
    QX_RTTI_CLASS(ChildProcessRules);
};

/// A request of the host's assistant to one of its tools.
class LLMToolRequest : public RTTI::Object {
public:
    QX_RTTI_CLASS(LLMToolRequest);
};

/// An assistant conversation kept with a session.
class LLMSessionInfo : public RTTI::Object {
public:
    QX_RTTI_CLASS(LLMSessionInfo);
};

} // namespace Profiler
