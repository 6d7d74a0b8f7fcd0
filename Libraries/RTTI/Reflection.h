#pragma once

// Reflection: how to make a type persistable
// ==========================================
//
// Every persisted type is described at run time and written only through that description (the
// binary and JSON object files in Serialization/ never see a class's C++ layout otherwise).
//
// A class (root objects and pointees derive from RTTI::Object; plain records do not):
//
//     // Session.h
//     class Session : public RTTI::Object {
//     public:
//         QX_RTTI_CLASS(Session);        // GetType() and the descriptor; leaves access public
//         ...
//     private:
//         std::vector<Process> mProcessList;
//         std::unique_ptr<PlatformSession> mPlatformSession;
//     };
//
//     struct Thread {                    // a plain record, reached only as a value
//         QX_RTTI_STRUCT(Thread);
//         int32_t mThreadID = 0;
//     };
//
//     // Session.cpp: qualified name as registered, then the version of the stored shape
//     QX_RTTI_DEFINE_CLASS(Profiler::Session, 9)
//     {
//         type.Base<Model>()                               // reflected bases, in order (optional)
//             .Alias("Profiler::OldSession")               // former names (optional)
//             .Property("ProcessList", &Session::mProcessList)
//             .Property("PlatformSession", &Session::mPlatformSession);
//     }
//
// Classes derived from RTTI::Object get it as their last base automatically. Bump the version
// whenever the stored shape changes; files of an older version then need a
// Serialization::CompatibilityHandler to load. QX_RTTI_DEFINE_NAMED_CLASS(Class, "Name", version)
// registers a class under a name other than its C++ name.
//
// Property types: bool, fixed-width integers, float, double, std::string, reflected classes,
// structs and enums, identifiers, and std::vector / std::map / std::unordered_map / std::set /
// std::unordered_set / std::unique_ptr of these (not std::vector<bool>).
//
// An enum, stored by value name (renumbering keeps old files loading), declared right after it:
//
//     enum class EResolveStatus : uint8_t { Resolved, Unresolved, Unused, OldCapture };
//     QX_RTTI_ENUM(EResolveStatus, "Profiler::EResolveStatus", Resolved, Unresolved, Unused, OldCapture);
//
// An enum nested in a class uses QX_RTTI_NESTED_ENUM inside the class body with the same arguments.
//
// An identifier: a distinct integer type with a name of its own that is stored as its integer:
//
//     QX_RTTI_IDENTIFIER(ThreadID, uint32_t, "Profiler::ThreadID");   // enum class ThreadID : uint32_t
//     ThreadID id{42}; uint32_t raw = static_cast<uint32_t>(id);
//
// Registration: descriptors are built lazily per binary (RTTI::TypeOf<T>(), T::StaticType()) and
// entered into the host's RTTI::Registry explicitly, which also registers every type they refer
// to: `registry.Register(RTTI::TypeOf<Profiler::Session>())` or `registry.Register<Profiler::Session>()`.
// A plugin registers under its module id, inside `RTTI::Registry::ModuleScope scope(registry, id)`,
// and calls RTTI::SetThisModule(id) once so that its own lookups prefer its own descriptors.

#include "RTTI/ClassBuilder.h"
#include "RTTI/Registry.h"
#include "RTTI/TypeOf.h"

#include <initializer_list>
#include <vector>

/// Inside a class derived from RTTI::Object: declares StaticType() and GetType().
#define QX_RTTI_CLASS(Class)                                                                                 \
public:                                                                                                      \
    using QxRttiSelf = Class;                                                                                \
    static const ::RTTI::CompoundType& StaticType();                                                         \
    const ::RTTI::CompoundType& GetType() const override                                                     \
    {                                                                                                        \
        return StaticType();                                                                                 \
    }                                                                                                        \
    static void QxRttiDescribe(::RTTI::ClassBuilder<Class>& type)

/// Inside a plain reflected struct (no RTTI::Object base): declares StaticType().
#define QX_RTTI_STRUCT(Class)                                                                                \
public:                                                                                                      \
    using QxRttiSelf = Class;                                                                                \
    static const ::RTTI::CompoundType& StaticType();                                                         \
    static void QxRttiDescribe(::RTTI::ClassBuilder<Class>& type)

/// In the class's source file: the descriptor under an explicit name; a block follows that
/// fills `type` (an RTTI::ClassBuilder).
#define QX_RTTI_DEFINE_NAMED_CLASS(Class, Name, Version)                                                     \
    const ::RTTI::CompoundType& Class::StaticType()                                                          \
    {                                                                                                        \
        static const ::RTTI::CompoundType& type = ::RTTI::Detail::BuildClass<Class>(Name, Version);          \
        return type;                                                                                         \
    }                                                                                                        \
    void Class::QxRttiDescribe([[maybe_unused]] ::RTTI::ClassBuilder<Class>& type)

/// In the class's source file: the descriptor under the class's qualified C++ name.
#define QX_RTTI_DEFINE_CLASS(Class, Version) QX_RTTI_DEFINE_NAMED_CLASS(Class, #Class, Version)

#define QX_RTTI_DETAIL_ENUM_BODY(Enum, Name, ...)                                                            \
    {                                                                                                        \
        static const ::RTTI::EnumType& type = ::RTTI::Detail::BuildEnum<Enum>(Name, #__VA_ARGS__, [] {       \
            using enum Enum;                                                                                 \
            return std::vector<Enum>{__VA_ARGS__};                                                           \
        }());                                                                                                \
        return type;                                                                                         \
    }

/// After an enum at namespace scope: its registered name and its enumerators, stored by name.
#define QX_RTTI_ENUM(Enum, Name, ...)                                                                        \
    inline const ::RTTI::EnumType& QxRttiType(Enum*)                                                         \
        QX_RTTI_DETAIL_ENUM_BODY(Enum, Name, __VA_ARGS__) static_assert(true)

/// Inside the class that declares the enum.
#define QX_RTTI_NESTED_ENUM(Enum, Name, ...)                                                                 \
    friend const ::RTTI::EnumType& QxRttiType(Enum*)                                                         \
        QX_RTTI_DETAIL_ENUM_BODY(Enum, Name, __VA_ARGS__) static_assert(true)

/// Declares `enum class Identifier : Underlying {}`, a distinct integer type registered as a
/// primitive named `Name` and stored exactly like its underlying integer.
#define QX_RTTI_IDENTIFIER(Identifier, Underlying, Name)                                                     \
    enum class Identifier : Underlying {};                                                                   \
    inline const ::RTTI::PrimitiveType& QxRttiType(Identifier*)                                              \
    {                                                                                                        \
        static_assert(std::is_integral_v<Underlying> && !std::is_same_v<Underlying, bool>);                  \
        static const ::RTTI::PrimitiveType& type = ::RTTI::PrimitiveType::Make<Identifier>(Name);            \
        return type;                                                                                         \
    }                                                                                                        \
    static_assert(true)
