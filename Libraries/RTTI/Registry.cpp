#include "RTTI/Registry.h"

#include "RTTI/ContainerTypes.h"
#include "RTTI/Object.h"
#include "Utility/Crc64.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace RTTI {
namespace {

std::atomic<ModuleId> gThisModule{kNoModule};

// Live registries of this binary, so that a registry that dies can hand the numbering of shared
// descriptors back to the others.
std::mutex gLiveRegistriesMutex;
std::vector<Registry*> gLiveRegistries;

struct StringHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const noexcept
    {
        return std::hash<std::string_view>{}(text);
    }
};

using NameMap = std::unordered_map<std::string, const Type*, StringHash, std::equal_to<>>;

const Type* Lookup(const NameMap& map, std::string_view name)
{
    auto it = map.find(name);
    return it == map.end() ? nullptr : it->second;
}

/// The types a type refers to, in a stable order.
void ForEachReferencedType(const Type& type, const std::function<void(const Type&)>& visit)
{
    switch (type.GetDataType()) {
    case EDataType::Compound: {
        const CompoundType& compound = *type.AsCompound();
        for (std::size_t i = 0; i < compound.GetBaseLinks().size(); ++i)
            visit(compound.GetBase(i));
        for (const Property& property : compound.GetOwnProperties())
            visit(property.GetType());
        break;
    }
    case EDataType::Primitive:
        break;
    case EDataType::Enum:
        visit(type.AsEnum()->GetSizeType());
        break;
    case EDataType::Array:
        visit(type.AsArray()->GetElementType());
        break;
    case EDataType::Map:
        visit(type.AsMap()->GetKeyType());
        visit(type.AsMap()->GetValueType());
        break;
    case EDataType::Pointer:
        visit(type.AsPointer()->GetPointeeType());
        break;
    case EDataType::Set:
        visit(type.AsSet()->GetElementType());
        break;
    }
}

} // namespace

ModuleId ModuleIdFromName(std::string_view moduleName)
{
    return Utility::Crc64(moduleName);
}

ModuleId GetThisModule()
{
    return gThisModule.load(std::memory_order_relaxed);
}

void SetThisModule(ModuleId module)
{
    gThisModule.store(module, std::memory_order_relaxed);
}

struct Registry::Partition {
    ModuleId module = kNoModule;
    NameMap names;
    NameMap aliases;
    std::vector<const Type*> order; // registration order
};

Registry::Registry()
{
    std::lock_guard lock(gLiveRegistriesMutex);
    gLiveRegistries.push_back(this);
}

Registry::~Registry()
{
    // Descriptors outlive the registry; forget the numbers this registry gave them so that a
    // class no other registry holds cannot be written any more, and let the registries that
    // remain number their classes again.
    for (const auto& partition : mPartitions)
        for (const Type* type : partition->order)
            if (const CompoundType* compound = type->AsCompound(); compound && compound->mIndexedBy == this)
                compound->mIndexedBy = nullptr;
    std::vector<Registry*> others;
    {
        std::lock_guard lock(gLiveRegistriesMutex);
        std::erase(gLiveRegistries, this);
        others = gLiveRegistries;
    }
    for (Registry* other : others)
        other->Renumber();
}

Registry::ModuleScope::ModuleScope(Registry& registry, ModuleId module)
    : mRegistry(registry), mPrevious(registry.GetCurrentModule())
{
    mRegistry.SetCurrentModule(module);
}

Registry::ModuleScope::~ModuleScope()
{
    mRegistry.SetCurrentModule(mPrevious);
}

Registry::BatchScope::BatchScope(Registry& registry) : mRegistry(registry)
{
    ++mRegistry.mBatchDepth;
}

Registry::BatchScope::~BatchScope()
{
    if (--mRegistry.mBatchDepth == 0 && std::exchange(mRegistry.mRenumberPending, false))
        mRegistry.Renumber();
}

Registry::Partition& Registry::GetOrCreatePartition(ModuleId module)
{
    for (const auto& partition : mPartitions)
        if (partition->module == module)
            return *partition;
    mPartitions.push_back(std::make_unique<Partition>());
    mPartitions.back()->module = module;
    return *mPartitions.back();
}

void Registry::Register(const Type& type)
{
    Partition& partition = GetOrCreatePartition(mCurrentModule);
    // A work list instead of recursion: type graphs can be deep and are often cyclic.
    std::vector<const Type*> pending{&type};
    while (!pending.empty()) {
        const Type* current = pending.back();
        pending.pop_back();
        if (!partition.names.emplace(current->GetName(), current).second)
            continue; // insert if absent; what it refers to is already there
        partition.order.push_back(current);
        if (const CompoundType* compound = current->AsCompound())
            for (const std::string& alias : compound->GetAliases())
                partition.aliases.emplace(alias, current);
        std::vector<const Type*> referenced;
        ForEachReferencedType(*current, [&](const Type& next) { referenced.push_back(&next); });
        // Reversed so that referenced types are registered in declaration order.
        pending.insert(pending.end(), referenced.rbegin(), referenced.rend());
    }
    if (mBatchDepth > 0)
        mRenumberPending = true;
    else
        Renumber();
}

void Registry::RegisterPrimitives()
{
    for (const Type* type :
         {&Primitives::UInt8(), &Primitives::Int8(), &Primitives::UInt16(), &Primitives::Int16(),
          &Primitives::UInt32(), &Primitives::Int32(), &Primitives::UInt64(), &Primitives::Int64(),
          &Primitives::Bool(), &Primitives::Float(), &Primitives::Double(), &Primitives::String()})
        Register(*type);
}

const Type* Registry::FindType(std::string_view name, ModuleId callerModule) const
{
    for (const auto& partition : mPartitions)
        if (partition->module == callerModule) {
            if (const Type* found = Lookup(partition->names, name))
                return found;
            if (const Type* found = Lookup(partition->aliases, name))
                return found;
        }
    for (const auto& partition : mPartitions) {
        if (partition->module == callerModule)
            continue;
        if (const Type* found = Lookup(partition->names, name))
            return found;
        if (const Type* found = Lookup(partition->aliases, name))
            return found;
    }
    return nullptr;
}

const CompoundType* Registry::FindClass(std::string_view name) const
{
    const Type* type = FindType(name);
    return type ? type->AsCompound() : nullptr;
}

bool Registry::IsRegistered(const Type& type) const
{
    for (const auto& partition : mPartitions)
        if (partition->names.contains(type.GetName()))
            return true;
    return false;
}

std::vector<const Type*> Registry::GetTypes(ModuleId module) const
{
    for (const auto& partition : mPartitions)
        if (partition->module == module)
            return partition->order;
    return {};
}

void Registry::Renumber()
{
    // One node per class name. The descriptor that represents a name is the first one in
    // registry order; its first base decides where the class hangs in the forest.
    struct Node {
        const CompoundType* canonical = nullptr;
        std::vector<const CompoundType*> descriptors;
        std::vector<std::size_t> children;
        bool hasParent = false;
    };
    std::vector<Node> nodes;
    std::unordered_map<std::string_view, std::size_t> nodeByName;
    for (const auto& partition : mPartitions)
        for (const Type* type : partition->order)
            if (const CompoundType* compound = type->AsCompound()) {
                auto [it, added] = nodeByName.emplace(compound->GetName(), nodes.size());
                if (added)
                    nodes.push_back({compound, {}, {}, false});
                nodes[it->second].descriptors.push_back(compound);
            }

    for (std::size_t i = 0; i < nodes.size(); ++i) {
        const CompoundType& canonical = *nodes[i].canonical;
        if (canonical.GetBaseLinks().empty())
            continue;
        auto parent = nodeByName.find(canonical.GetBase(0).GetName());
        if (parent == nodeByName.end() || parent->second == i)
            continue;
        nodes[parent->second].children.push_back(i);
        nodes[i].hasParent = true;
    }

    // Iterative pre-order walk; `visited` guards against cycles between differently shaped
    // registrations of the same names.
    struct Numbers {
        uint32_t index = 0;
        uint32_t descendants = 0;
        uint64_t fullVersion = 0;
        bool secondaryBases = false;
    };
    std::vector<Numbers> numbers(nodes.size());
    std::vector<bool> visited(nodes.size(), false);
    uint32_t counter = 0;
    auto walk = [&](std::size_t root) {
        struct Frame {
            std::size_t node;
            std::size_t nextChild;
        };
        std::vector<Frame> stack;
        auto enter = [&](std::size_t node, const Numbers* parent) {
            visited[node] = true;
            const CompoundType& type = *nodes[node].canonical;
            const uint32_t version = type.GetVersion();
            const uint8_t bytes[4] = {static_cast<uint8_t>(version), static_cast<uint8_t>(version >> 8),
                                      static_cast<uint8_t>(version >> 16),
                                      static_cast<uint8_t>(version >> 24)};
            numbers[node].index = counter++;
            numbers[node].fullVersion =
                Utility::Crc64(bytes, sizeof(bytes), parent ? parent->fullVersion : 0);
            numbers[node].secondaryBases =
                type.GetBaseLinks().size() > 1 || (parent && parent->secondaryBases);
            stack.push_back({node, 0});
        };
        enter(root, nullptr);
        while (!stack.empty()) {
            Frame& frame = stack.back();
            const std::vector<std::size_t>& children = nodes[frame.node].children;
            if (frame.nextChild < children.size()) {
                const std::size_t child = children[frame.nextChild++];
                if (!visited[child])
                    enter(child, &numbers[frame.node]);
                continue;
            }
            numbers[frame.node].descendants = counter - numbers[frame.node].index - 1;
            stack.pop_back();
        }
    };
    for (std::size_t i = 0; i < nodes.size(); ++i)
        if (!nodes[i].hasParent && !visited[i])
            walk(i);
    for (std::size_t i = 0; i < nodes.size(); ++i)
        if (!visited[i]) // only reachable through a cycle
            walk(i);

    for (std::size_t i = 0; i < nodes.size(); ++i)
        for (const CompoundType* descriptor : nodes[i].descriptors) {
            descriptor->mIndexedBy = this;
            descriptor->mIndex = numbers[i].index;
            descriptor->mDescendantCount = numbers[i].descendants;
            descriptor->mFullVersion = numbers[i].fullVersion;
            descriptor->mHasSecondaryBases = numbers[i].secondaryBases;
        }
}

bool IsA(const Type& type, const Type& base)
{
    if (type.IsSameAs(base))
        return true;
    const CompoundType* derived = type.AsCompound();
    const CompoundType* ancestor = base.AsCompound();
    if (!derived || !ancestor || !derived->IsIndexed() || !ancestor->IsIndexed())
        return false;
    if (ancestor->GetIndex() <= derived->GetIndex() &&
        derived->GetIndex() <= ancestor->GetIndex() + ancestor->GetDescendantCount())
        return true;
    // The numbering follows first bases only; a later base needs a walk up the bases.
    if (!derived->HasSecondaryBases())
        return false;
    for (std::size_t i = 0; i < derived->GetBaseLinks().size(); ++i)
        if (IsA(derived->GetBase(i), base))
            return true;
    return false;
}

} // namespace RTTI
