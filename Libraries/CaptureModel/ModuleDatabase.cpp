#include "CaptureModel/ModuleDatabase.h"

#include "Utility/Fnv1a.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>

namespace Profiler {

namespace {

struct FunctionEntry {
    uint64_t start = 0;
    uint64_t end = 0; ///< exclusive
    uint32_t index = 0;
};

/// An address range of a process and what lies there, valid from load to unload.
struct RangeEntry {
    uint64_t begin = 0;
    uint64_t end = 0; ///< exclusive
    double load = 0.0;
    double unload = 0.0;
    uint32_t index = 0; ///< native module instance, or JIT function instance
};

struct RangeTable {
    std::vector<RangeEntry> byBegin;
    uint64_t maxLength = 0;

    void Sort()
    {
        std::stable_sort(byBegin.begin(), byBegin.end(),
                         [](const RangeEntry& a, const RangeEntry& b) { return a.begin < b.begin; });
        for (const RangeEntry& entry : byBegin)
            maxLength = std::max(maxLength, entry.end - entry.begin);
    }

    /// The range that holds `address` at `time`: among the ranges holding the address, the first
    /// (lowest index) whose load time ≤ time < unload time; failing that, the only range holding
    /// the address when there is exactly one. Null otherwise.
    const RangeEntry* Find(uint64_t address, double time) const
    {
        auto it =
            std::upper_bound(byBegin.begin(), byBegin.end(), address,
                             [](uint64_t value, const RangeEntry& entry) { return value < entry.begin; });
        const RangeEntry* timed = nullptr;
        const RangeEntry* only = nullptr;
        int holding = 0;
        // Ranges that start further below than the longest range cannot reach the address.
        while (it != byBegin.begin()) {
            --it;
            if (address - it->begin >= maxLength)
                break;
            if (address >= it->end)
                continue;
            ++holding;
            only = &*it;
            if (time != ModuleDatabase::kNoTime && it->load <= time && time < it->unload &&
                (!timed || it->index < timed->index))
                timed = &*it;
        }
        if (timed)
            return timed;
        return holding == 1 ? only : nullptr;
    }
};

/// "[name]", as perf names code of a module that has no symbol there; names that carry their
/// brackets already ("[kernel.kallsyms]") keep them once.
std::string ModuleEntryName(const std::string& name)
{
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']')
        return name;
    return "[" + name + "]";
}

uint64_t SaturatingAdd(uint64_t a, uint64_t b)
{
    return a + b < a ? ~0ull : a + b;
}

} // namespace

struct ModuleDatabase::Lookup {
    /// Per native module: its functions sorted by address, and the span they cover.
    struct ModuleFunctions {
        std::vector<FunctionEntry> entries;
        uint64_t spanStart = ~0ull;
        uint64_t spanEnd = 0;

        /// The function whose range holds `address`.
        const FunctionEntry* Find(uint64_t address) const
        {
            auto it = std::upper_bound(
                entries.begin(), entries.end(), address,
                [](uint64_t value, const FunctionEntry& entry) { return value < entry.start; });
            if (it == entries.begin())
                return nullptr;
            --it;
            return address < it->end ? &*it : nullptr;
        }
    };

    std::vector<ModuleFunctions> nativeFunctions;
    std::unordered_map<int32_t, RangeTable> nativeInstances; ///< by process
    std::unordered_map<int32_t, RangeTable> jitFunctions;    ///< by process
    /// JIT functions by (module index << 32 ^ relative address) for naming.
    std::unordered_multimap<uint64_t, uint32_t> jitByKey;

    static ModuleFunctions BuildFunctions(const std::vector<Function>& functions)
    {
        ModuleFunctions table;
        table.entries.reserve(functions.size());
        for (uint32_t i = 0; i < functions.size(); ++i)
            table.entries.push_back({functions[i].mRelativeAddress, 0, i});
        std::stable_sort(table.entries.begin(), table.entries.end(),
                         [](const FunctionEntry& a, const FunctionEntry& b) { return a.start < b.start; });
        // A function of unknown size reaches up to the next function; the last one to the end of
        // the module (the instance's extent bounds it).
        for (std::size_t i = 0; i < table.entries.size(); ++i) {
            FunctionEntry& entry = table.entries[i];
            const uint64_t size = functions[entry.index].mSize;
            if (size != 0)
                entry.end = SaturatingAdd(entry.start, size);
            else
                entry.end = i + 1 < table.entries.size()
                                ? std::max(entry.start + 1, table.entries[i + 1].start)
                                : ~0ull;
            table.spanStart = std::min(table.spanStart, entry.start);
            table.spanEnd = std::max(table.spanEnd, size != 0 ? entry.end : SaturatingAdd(entry.start, 1));
        }
        return table;
    }
};

ModuleDatabase::ModuleDatabase() = default;
ModuleDatabase::~ModuleDatabase() = default;

uint32_t ModuleDatabase::AddNativeModule(std::unique_ptr<NativeModule> module)
{
    std::unique_lock lock(mLock);
    mNativeModules.push_back(std::move(module));
    Invalidate();
    return static_cast<uint32_t>(mNativeModules.size() - 1);
}

uint32_t ModuleDatabase::AddJITModule(std::unique_ptr<JITModule> module)
{
    std::unique_lock lock(mLock);
    mJITModules.push_back(std::move(module));
    Invalidate();
    return static_cast<uint32_t>(mJITModules.size() - 1);
}

void ModuleDatabase::AddNativeModuleInstance(const NativeModuleInstance& instance)
{
    std::unique_lock lock(mLock);
    mNativeModuleInstances.push_back(instance);
    Invalidate();
}

void ModuleDatabase::AddJITModuleInstance(const JITModuleInstance& instance)
{
    std::unique_lock lock(mLock);
    mJITModuleInstances.push_back(instance);
    Invalidate();
}

bool ModuleDatabase::AddFunction(uint32_t moduleIndex, Function function)
{
    std::unique_lock lock(mLock);
    if (moduleIndex >= mNativeModules.size() || !mNativeModules[moduleIndex])
        return false;
    function.mModuleIndex = moduleIndex;
    mNativeModules[moduleIndex]->mFunctions.push_back(std::move(function));
    Invalidate();
    return true;
}

void ModuleDatabase::AddJITFunction(Function function, JITFunctionInstance instance)
{
    std::unique_lock lock(mLock);
    instance.mJITFunctionIndex = static_cast<uint32_t>(mJITFunctions.size());
    mJITFunctions.push_back(std::move(function));
    mJITFunctionInstances.push_back(instance);
    Invalidate();
}

void ModuleDatabase::AddJITFunctionInstance(const JITFunctionInstance& instance)
{
    std::unique_lock lock(mLock);
    mJITFunctionInstances.push_back(instance);
    Invalidate();
}

ResolvedAddress ModuleDatabase::ZoneFunction(std::string_view name)
{
    const uint64_t hash = Utility::Fnv1a(reinterpret_cast<const uint8_t*>(name.data()), name.size());
    return ResolvedAddress::Make(hash, ResolvedAddress::kKindNoCode, 0, true);
}

ResolvedAddress ModuleDatabase::RegisterZone(std::string_view name)
{
    const ResolvedAddress key = ZoneFunction(name);
    std::unique_lock lock(mLock);
    mInstrumentationDatabase.mInstrumentationIDs.try_emplace(key, name);
    return key;
}

void ModuleDatabase::Prepare()
{
    std::unique_lock lock(mLock);
    Invalidate();
}

void ModuleDatabase::Invalidate()
{
    mLookup.reset();
}

const ModuleDatabase::Lookup& ModuleDatabase::GetLookup(std::shared_lock<std::shared_mutex>& lock) const
{
    while (!mLookup) {
        lock.unlock();
        {
            std::unique_lock exclusive(mLock);
            if (!mLookup) {
                auto lookup = std::make_unique<Lookup>();
                lookup->nativeFunctions.reserve(mNativeModules.size());
                for (const auto& module : mNativeModules)
                    lookup->nativeFunctions.push_back(module ? Lookup::BuildFunctions(module->mFunctions)
                                                             : Lookup::ModuleFunctions{});
                for (uint32_t i = 0; i < mNativeModuleInstances.size(); ++i) {
                    const NativeModuleInstance& instance = mNativeModuleInstances[i];
                    if (instance.mNativeModuleIndex >= mNativeModules.size() ||
                        !mNativeModules[instance.mNativeModuleIndex])
                        continue;
                    const NativeModule& module = *mNativeModules[instance.mNativeModuleIndex];
                    const auto& functions = lookup->nativeFunctions[instance.mNativeModuleIndex];
                    RangeEntry entry{0, 0, instance.mLoadTimeMs, instance.mUnloadTimeMs, i};
                    if (module.mImageSize > 0) {
                        entry.begin = instance.mImageBase;
                        entry.end =
                            SaturatingAdd(instance.mImageBase, static_cast<uint64_t>(module.mImageSize));
                    } else if (!functions.entries.empty()) {
                        // Without an image size the module spans its functions.
                        const uint64_t base = module.IsAbsolute() ? 0 : instance.mImageBase;
                        entry.begin = SaturatingAdd(base, functions.spanStart);
                        entry.end = SaturatingAdd(base, functions.spanEnd);
                    }
                    if (entry.end > entry.begin)
                        lookup->nativeInstances[instance.mProcessID].byBegin.push_back(entry);
                }
                for (auto& [process, table] : lookup->nativeInstances)
                    table.Sort();
                for (uint32_t i = 0; i < mJITFunctionInstances.size(); ++i) {
                    const JITFunctionInstance& instance = mJITFunctionInstances[i];
                    if (instance.mJITFunctionIndex >= mJITFunctions.size())
                        continue;
                    const uint64_t size =
                        std::max<uint64_t>(mJITFunctions[instance.mJITFunctionIndex].mSize, 1);
                    lookup->jitFunctions[instance.mProcessID].byBegin.push_back(
                        {instance.mAbsoluteAddress, SaturatingAdd(instance.mAbsoluteAddress, size),
                         instance.mLoadTime, instance.mUnloadTime, i});
                }
                for (auto& [process, table] : lookup->jitFunctions)
                    table.Sort();
                for (uint32_t i = 0; i < mJITFunctions.size(); ++i)
                    lookup->jitByKey.emplace((uint64_t{mJITFunctions[i].mModuleIndex} << 32) ^
                                                 mJITFunctions[i].mRelativeAddress,
                                             i);
                mLookup = std::move(lookup);
            }
        }
        lock.lock();
    }
    return *mLookup;
}

AddressResolution ModuleDatabase::Resolve(int32_t process, double time, uint64_t address) const
{
    std::shared_lock lock(mLock);
    const Lookup& lookup = GetLookup(lock);
    AddressResolution result;
    result.Function = UnknownFunction();

    if (auto jit = lookup.jitFunctions.find(process); jit != lookup.jitFunctions.end()) {
        if (const RangeEntry* entry = jit->second.Find(address, time)) {
            const Function& function = mJITFunctions[mJITFunctionInstances[entry->index].mJITFunctionIndex];
            result.Function = ResolvedAddress::Make(function.mRelativeAddress, ResolvedAddress::kKindJit,
                                                    function.mModuleIndex);
            result.InFunction = true;
            return result;
        }
    }

    auto native = lookup.nativeInstances.find(process);
    if (native == lookup.nativeInstances.end())
        return result;
    const RangeEntry* entry = native->second.Find(address, time);
    if (!entry)
        return result;
    const NativeModuleInstance& instance = mNativeModuleInstances[entry->index];
    const uint32_t moduleIndex = instance.mNativeModuleIndex;
    const NativeModule& module = *mNativeModules[moduleIndex];
    const uint64_t relative = module.IsAbsolute() ? address : address - instance.mImageBase;
    result.InstanceIndex = entry->index;
    if (const FunctionEntry* function = lookup.nativeFunctions[moduleIndex].Find(relative)) {
        result.Function = ResolvedAddress::Make(function->start, ResolvedAddress::kKindNative, moduleIndex);
        result.InFunction = true;
    } else {
        result.Function = ModuleEntry(moduleIndex);
    }
    return result;
}

uint64_t ModuleDatabase::GetAbsoluteAddress(const ResolvedAddress& address, double time) const
{
    std::shared_lock lock(mLock);
    const uint32_t kind = address.GetKind();
    const uint32_t moduleIndex = address.GetModuleIndex();
    if ((kind != ResolvedAddress::kKindNative && kind != ResolvedAddress::kKindJit) ||
        (kind == ResolvedAddress::kKindNative && address.RelativeAddress == kModuleEntryAddress))
        return kInvalidAddress;

    // The first instance loaded at `time`, else the only instance of the module.
    auto pick = [&](const auto& instances, auto moduleOf) -> const auto*
    {
        using Instance = std::remove_reference_t<decltype(instances[0])>;
        const Instance* only = nullptr;
        int count = 0;
        for (const Instance& instance : instances) {
            if (moduleOf(instance) != moduleIndex)
                continue;
            if (time != kNoTime && instance.mLoadTimeMs <= time && time < instance.mUnloadTimeMs)
                return &instance;
            ++count;
            only = &instance;
        }
        return count == 1 ? only : static_cast<const Instance*>(nullptr);
    };

    if (kind == ResolvedAddress::kKindNative) {
        const NativeModuleInstance* instance =
            pick(mNativeModuleInstances, [](const NativeModuleInstance& i) { return i.mNativeModuleIndex; });
        if (!instance)
            return kInvalidAddress;
        const bool absolute = moduleIndex < mNativeModules.size() && mNativeModules[moduleIndex] &&
                              mNativeModules[moduleIndex]->IsAbsolute();
        return absolute ? address.RelativeAddress : address.RelativeAddress + instance->mImageBase;
    }
    const JITModuleInstance* instance =
        pick(mJITModuleInstances, [](const JITModuleInstance& i) { return i.mJITModuleIndex; });
    return instance ? address.RelativeAddress + instance->mModuleID : kInvalidAddress;
}

std::string ModuleDatabase::GetFunctionNameLocked(const Lookup& lookup, const ResolvedAddress& address) const
{
    const uint32_t kind = address.GetKind();
    const uint32_t moduleIndex = address.GetModuleIndex();
    if (address.HasInstrumentationFlag() || kind == ResolvedAddress::kKindNoCode)
        if (const std::string* name = mInstrumentationDatabase.FindName(address))
            return *name;
    switch (kind) {
    case ResolvedAddress::kKindNative:
        if (moduleIndex < mNativeModules.size() && mNativeModules[moduleIndex]) {
            const NativeModule& module = *mNativeModules[moduleIndex];
            if (address.RelativeAddress != kModuleEntryAddress)
                if (const FunctionEntry* entry =
                        lookup.nativeFunctions[moduleIndex].Find(address.RelativeAddress))
                    return module.mFunctions[entry->index].mName;
            return ModuleEntryName(module.mName);
        }
        break;
    case ResolvedAddress::kKindJit: {
        auto it = lookup.jitByKey.find((uint64_t{moduleIndex} << 32) ^ address.RelativeAddress);
        for (; it != lookup.jitByKey.end(); ++it) {
            const Function& function = mJITFunctions[it->second];
            if (function.mModuleIndex == moduleIndex && function.mRelativeAddress == address.RelativeAddress)
                return function.mName;
        }
        if (moduleIndex < mJITModules.size() && mJITModules[moduleIndex])
            return ModuleEntryName(mJITModules[moduleIndex]->mName);
        break;
    }
    case ResolvedAddress::kKindPseudo:
        if (address.IsUnrootedStacks())
            return kUnrootedName;
        break;
    default:
        break;
    }
    return kUnknownFunctionName;
}

std::string ModuleDatabase::GetFunctionName(const ResolvedAddress& address) const
{
    std::shared_lock lock(mLock);
    return GetFunctionNameLocked(GetLookup(lock), address);
}

std::string ModuleDatabase::GetModuleName(const ResolvedAddress& address) const
{
    std::shared_lock lock(mLock);
    const uint32_t moduleIndex = address.GetModuleIndex();
    switch (address.GetKind()) {
    case ResolvedAddress::kKindNoCode:
        // Zones named by ZoneFunction belong to no module.
        if (address.HasInstrumentationFlag())
            break;
        [[fallthrough]];
    case ResolvedAddress::kKindNative:
        if (moduleIndex < mNativeModules.size() && mNativeModules[moduleIndex])
            return mNativeModules[moduleIndex]->mName;
        break;
    case ResolvedAddress::kKindJit:
        if (moduleIndex < mJITModules.size() && mJITModules[moduleIndex])
            return mJITModules[moduleIndex]->mName;
        break;
    case ResolvedAddress::kKindPseudo:
        if (address.IsUnrootedStacks())
            return kUnrootedName;
        break;
    default:
        break;
    }
    return kUnknownModuleName;
}

std::optional<Function> ModuleDatabase::FindFunction(const ResolvedAddress& address) const
{
    std::shared_lock lock(mLock);
    const Lookup& lookup = GetLookup(lock);
    const uint32_t moduleIndex = address.GetModuleIndex();
    if (address.GetKind() == ResolvedAddress::kKindNative && moduleIndex < mNativeModules.size() &&
        mNativeModules[moduleIndex]) {
        if (const FunctionEntry* entry = lookup.nativeFunctions[moduleIndex].Find(address.RelativeAddress))
            if (entry->start == address.RelativeAddress)
                return mNativeModules[moduleIndex]->mFunctions[entry->index];
    } else if (address.GetKind() == ResolvedAddress::kKindJit) {
        auto it = lookup.jitByKey.find((uint64_t{moduleIndex} << 32) ^ address.RelativeAddress);
        for (; it != lookup.jitByKey.end(); ++it)
            if (mJITFunctions[it->second].mModuleIndex == moduleIndex &&
                mJITFunctions[it->second].mRelativeAddress == address.RelativeAddress)
                return mJITFunctions[it->second];
    }
    return std::nullopt;
}

std::size_t ModuleDatabase::GetNativeModuleCount() const
{
    std::shared_lock lock(mLock);
    return mNativeModules.size();
}

std::size_t ModuleDatabase::GetFunctionCount() const
{
    std::shared_lock lock(mLock);
    std::size_t count = 0;
    for (const auto& module : mNativeModules)
        count += module ? module->mFunctions.size() : 0;
    return count;
}

} // namespace Profiler

QX_RTTI_DEFINE_CLASS(Profiler::ModuleDatabase::JITFunctionIndices, 1) {}

QX_RTTI_DEFINE_CLASS(Profiler::ModuleDatabase, 2)
{
    type.Property("InstrumentationDatabase", &ModuleDatabase::mInstrumentationDatabase)
        .Property("NativeModules", &ModuleDatabase::mNativeModules)
        .Property("NativeModuleInstances", &ModuleDatabase::mNativeModuleInstances)
        .Property("JITModules", &ModuleDatabase::mJITModules)
        .Property("JITModuleInstances", &ModuleDatabase::mJITModuleInstances)
        .Property("JITFunctions", &ModuleDatabase::mJITFunctions)
        .Property("JITFunctionInstances", &ModuleDatabase::mJITFunctionInstances)
        .Property("JITFunctionAddressMap", &ModuleDatabase::mJITFunctionAddressMap)
        .Property("JITExtraDataStorage", &ModuleDatabase::mJITExtraDataStorage);
}
