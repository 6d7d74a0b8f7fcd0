#include "ZivuDeverUdovIradir/HostSettingsRecords.h"

QX_RTTI_DEFINE_CLASS(Profiler::SymbolSettings, 1) {}
QX_RTTI_DEFINE_CLASS(Profiler::SymbolLocation, 1) {}
QX_RTTI_DEFINE_CLASS(Profiler::InputSettings, 1) {}
QX_RTTI_DEFINE_CLASS(Profiler::AutoUpdateSettings, 1) {}
QX_RTTI_DEFINE_CLASS(Profiler::AdvancedSettings, 1) {}

QX_RTTI_DEFINE_CLASS(Profiler::RuleStringComparer, 1)
{
    type.Property("Mode", &RuleStringComparer::mMode)
        .Property("CompareString", &RuleStringComparer::mCompareString)
        .Property("CaseSensitive", &RuleStringComparer::mCaseSensitive);
}

QX_RTTI_DEFINE_CLASS(Profiler::ThreadHideRule, 1)
{
    type.Property("ProcessComparer", &ThreadHideRule::mProcessComparer)
        .Property("ThreadComparer", &ThreadHideRule::mThreadComparer);
}

QX_RTTI_DEFINE_CLASS(Profiler::ThreadHideSettings, 1)
{
    type.Property("Rules", &ThreadHideSettings::mRules);
}

QX_RTTI_DEFINE_CLASS(Profiler::KeyMapping, 1) {}
QX_RTTI_DEFINE_CLASS(Profiler::InputBinding, 1) {}
