#pragma once

#include "RTTI/CompoundType.h"
#include "RTTI/EnumType.h"
#include "RTTI/TypeOf.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace RTTI {

/// Identifies the binary (host or plugin) that registered a type: the CRC-64 of its name.
using ModuleId = uint64_t;
/// No module: the host's own partition, and the registry's current module between plugin loads.
inline constexpr ModuleId kNoModule = ~0ull;

/// The CRC-64 of a module's name.
ModuleId ModuleIdFromName(std::string_view moduleName);

/// The module of the binary that calls this. Each binary links its own copy of this library,
/// so a plugin sets it once (RTTI::SetThisModule) and its own lookups then search its own
/// partition first. It stays kNoModule in the host.
ModuleId GetThisModule();
void SetThisModule(ModuleId module);

/// The type registry shared by the host and its plugins. It is partitioned by module: types are
/// registered into the partition of the current module, and lookups by name search the
/// caller's partition first, then the others in the order they were created. Registration is
/// not thread-safe and must happen while no other thread uses the registry; lookups may run
/// concurrently once registration is over.
///
/// A registry numbers the classes it holds (index, descendant count, full version) and stores
/// the numbers in their descriptors; all descriptors registered under one name get the same
/// numbers. A descriptor carries the numbers of the registry that registered it last (a dying
/// registry lets the others renumber), so registries sharing descriptors should not be used at
/// the same time; a program has one.
class Registry {
public:
    Registry();
    ~Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    ModuleId GetCurrentModule() const { return mCurrentModule; }
    /// Selects the partition that registrations go to (kNoModule: the host's).
    void SetCurrentModule(ModuleId module) { mCurrentModule = module; }

    /// Sets the current module for a scope and restores the previous one.
    class ModuleScope {
    public:
        ModuleScope(Registry& registry, ModuleId module);
        ~ModuleScope();
        ModuleScope(const ModuleScope&) = delete;
        ModuleScope& operator=(const ModuleScope&) = delete;

    private:
        Registry& mRegistry;
        ModuleId mPrevious;
    };

    /// Renumbers the classes once, when the scope ends, instead of after each registration in
    /// it: registering a program's types one by one costs a renumbering of all classes each.
    /// Class numbers (IsA) must not be used inside the scope.
    class BatchScope {
    public:
        explicit BatchScope(Registry& registry);
        ~BatchScope();
        BatchScope(const BatchScope&) = delete;
        BatchScope& operator=(const BatchScope&) = delete;

    private:
        Registry& mRegistry;
    };

    /// Adds the type to the current module's partition unless a type of that name is already
    /// there, then every type it refers to (bases, properties, elements, keys, values,
    /// pointees, enum size types), and renumbers the classes (see BatchScope).
    void Register(const Type& type);
    template <class T> void Register() { Register(TypeOf<T>()); }
    /// The twelve built-in primitives, in their canonical order.
    void RegisterPrimitives();

    /// The type registered under `name` or under an alias `name`, searching the partition of
    /// GetThisModule() first, then every other partition in registry order.
    const Type* FindType(std::string_view name) const { return FindType(name, GetThisModule()); }
    const Type* FindType(std::string_view name, ModuleId callerModule) const;
    const CompoundType* FindClass(std::string_view name) const;

    /// Whether any partition holds the type (by name).
    bool IsRegistered(const Type& type) const;
    std::size_t GetPartitionCount() const { return mPartitions.size(); }
    /// The types of one partition, in registration order.
    std::vector<const Type*> GetTypes(ModuleId module) const;

    /// A new default instance of a class (owned by the caller); null when it cannot be made.
    static void* Create(const CompoundType& type) { return type.Create(); }
    static const std::vector<Property>& GetProperties(const CompoundType& type)
    {
        return type.GetProperties();
    }
    static const Property* FindProperty(const CompoundType& type, std::string_view name)
    {
        return type.FindProperty(name);
    }
    static std::string_view ValueToName(const EnumType& type, uint64_t value)
    {
        return type.ValueToName(value);
    }
    static std::optional<uint64_t> NameToValue(const EnumType& type, std::string_view name)
    {
        return type.NameToValue(name);
    }

private:
    struct Partition;

    Partition& GetOrCreatePartition(ModuleId module);
    void Renumber();

    ModuleId mCurrentModule = kNoModule;
    std::vector<std::unique_ptr<Partition>> mPartitions;
    uint32_t mBatchDepth = 0;
    bool mRenumberPending = false;
};

/// True when `type` is `base` or derived from it. Classes are compared by their registry
/// numbers, so descriptors of one class from different binaries are interchangeable; other
/// types (and classes no registry numbered) only match themselves, by name.
bool IsA(const Type& type, const Type& base);

template <class T> bool IsA(const Type& type)
{
    return IsA(type, TypeOf<T>());
}

} // namespace RTTI
