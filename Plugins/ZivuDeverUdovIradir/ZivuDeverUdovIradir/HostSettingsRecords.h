#pragma once

// Application settings and view records of the host that the plugin registers so that the host
// can read and write them through the shared registry. The host fills them; the plugin only
// carries their descriptors, so most hold no stored properties here.

#include "RTTI/Reflection.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Profiler {

/// Where the host looks for symbol files and how it resolves them.
class SymbolSettings : public RTTI::Object {
public:
    QX_RTTI_CLASS(SymbolSettings);
};

/// One place in the host's symbol search path.
class SymbolLocation : public RTTI::Object {
public:
    QX_RTTI_CLASS(SymbolLocation);
};

/// The host's mouse and keyboard preferences.
class InputSettings : public RTTI::Object {
public:
    QX_RTTI_CLASS(InputSettings);
};

/// Whether and how the host looks for updates of itself.
class AutoUpdateSettings : public RTTI::Object {
public:
    QX_RTTI_CLASS(AutoUpdateSettings);
};

/// The host's expert options.
class AdvancedSettings : public RTTI::Object {
public:
    QX_RTTI_CLASS(AdvancedSettings);
};

/// How a thread hide rule compares one name.
struct RuleStringComparer {
    QX_RTTI_STRUCT(RuleStringComparer);

    enum class EMode : uint8_t { Substring = 0, RegEx = 1 };
    QX_RTTI_NESTED_ENUM(EMode, "Profiler::RuleStringComparer::EMode", Substring, RegEx);

    EMode mMode = EMode::Substring;
    std::string mCompareString;
    bool mCaseSensitive = false;
};

/// Hides the threads whose process name and thread name both match.
struct ThreadHideRule {
    QX_RTTI_STRUCT(ThreadHideRule);

    RuleStringComparer mProcessComparer;
    RuleStringComparer mThreadComparer;
};

/// The thread hide rules of the host's thread lists (applied by the host).
class ThreadHideSettings : public RTTI::Object {
public:
    QX_RTTI_CLASS(ThreadHideSettings);

    std::vector<ThreadHideRule> mRules;
};

/// A key chord bound to one of the host's commands.
class KeyMapping : public RTTI::Object {
public:
    QX_RTTI_CLASS(KeyMapping);
};

/// A mouse or keyboard input bound to one of the host's actions.
class InputBinding : public RTTI::Object {
public:
    QX_RTTI_CLASS(InputBinding);
};

} // namespace Profiler
