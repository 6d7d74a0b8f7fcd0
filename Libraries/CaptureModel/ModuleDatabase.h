#pragma once

#include "CaptureModel/Function.h"
#include "CaptureModel/InstrumentationDatabase.h"
#include "CaptureModel/Module.h"
#include "CaptureModel/ResolvedAddress.h"
#include "RTTI/Reflection.h"

#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

namespace Profiler {

/// Where an absolute address of a process lies: the function that covers it, and the module
/// instance (index into the native module instances, -1 when none) it was found in.
struct AddressResolution {
    ResolvedAddress Function = {};
    int64_t InstanceIndex = -1;
    bool InFunction = false; ///< a function of the module covers the address (else the module's own entry)
};

/// Which modules and functions a capture's processes loaded and when. A session holds one; it
/// turns sampled addresses into function keys (ResolvedAddress) and names them.
///
/// Every operation takes the database's lock, so readers on several threads and one writer that
/// adds modules or functions may meet. The lookup tables are built on the first lookup after a
/// change.
class ModuleDatabase {
public:
    QX_RTTI_STRUCT(ModuleDatabase);

    /// The contents of "JITFunctionAddressMap" entries belong to the platforms that record JIT
    /// code; the map is carried through files without being looked into.
    struct JITFunctionIndices {
        QX_RTTI_STRUCT(JITFunctionIndices);
    };

    /// No time applies (the lowest double).
    static constexpr double kNoTime = std::numeric_limits<double>::lowest();
    static constexpr uint64_t kInvalidAddress = ~0ull;
    /// The RelativeAddress of a module's own entry: addresses inside the module that no function
    /// covers, shown as "[module name]".
    static constexpr uint64_t kModuleEntryAddress = ~0ull;
    /// The RelativeAddress of the unknown pseudo-function (kind 3), for addresses in no module.
    static constexpr uint64_t kUnknownFunctionAddress = ~0ull;

    static constexpr const char* kUnknownModuleName = "<unknown>";
    static constexpr const char* kUnknownFunctionName = "Unknown";
    static constexpr const char* kUnrootedName = "[Unrooted Stacks]";

    ModuleDatabase();
    ~ModuleDatabase();
    ModuleDatabase(const ModuleDatabase&) = delete;
    ModuleDatabase& operator=(const ModuleDatabase&) = delete;

    /// The function key of addresses that no module covers.
    static constexpr ResolvedAddress UnknownFunction()
    {
        return ResolvedAddress::Make(kUnknownFunctionAddress, ResolvedAddress::kKindPseudo, 0);
    }
    /// The key of the instrumentation zone called `name`: an entry without code address (kind
    /// 2) with the zone flag, whose address is the FNV-1a hash of the name. RegisterZone makes
    /// its name known.
    static ResolvedAddress ZoneFunction(std::string_view name);
    /// The key of a native module's own entry.
    static constexpr ResolvedAddress ModuleEntry(uint32_t moduleIndex)
    {
        return ResolvedAddress::Make(kModuleEntryAddress, ResolvedAddress::kKindNative, moduleIndex);
    }

    // Building (the capture writer, symbol resolution, loaders).
    /// Adds a module and returns its index.
    uint32_t AddNativeModule(std::unique_ptr<NativeModule> module);
    uint32_t AddJITModule(std::unique_ptr<JITModule> module);
    void AddNativeModuleInstance(const NativeModuleInstance& instance);
    void AddJITModuleInstance(const JITModuleInstance& instance);
    /// Adds a function to a native module; false when there is no such module.
    bool AddFunction(uint32_t moduleIndex, Function function);
    /// Adds a JIT function with its placement; the instance's JITFunctionIndex is filled in.
    void AddJITFunction(Function function, JITFunctionInstance instance);
    /// Places an existing JIT function once more.
    void AddJITFunctionInstance(const JITFunctionInstance& instance);
    /// Records the zone's name in the instrumentation database and returns its key.
    ResolvedAddress RegisterZone(std::string_view name);
    /// Drops the lookup tables so that the next lookup builds them (after loading).
    void Prepare();

    // Lookups.
    /// The function that covers `address` in `process` at `time` (kNoTime: any time), the
    /// module's own entry when no function does, or UnknownFunction() outside every module.
    AddressResolution Resolve(int32_t process, double time, uint64_t address) const;
    /// The address of the function key in memory at `time` (kNoTime when no time applies), or
    /// kInvalidAddress when it cannot be placed.
    uint64_t GetAbsoluteAddress(const ResolvedAddress& address, double time = kNoTime) const;
    std::string GetFunctionName(const ResolvedAddress& address) const;
    std::string GetModuleName(const ResolvedAddress& address) const;
    /// The function record of the key, when a module holds one at exactly its address.
    std::optional<Function> FindFunction(const ResolvedAddress& address) const;

    std::size_t GetNativeModuleCount() const;
    std::size_t GetFunctionCount() const;

    /// Runs `reader` with the database under its shared lock (for views and the writer's checks).
    template <class F> decltype(auto) Read(F&& reader) const
    {
        std::shared_lock lock(mLock);
        return reader(*this);
    }

    // Stored data; take the lock (Read) when other threads may change the database.
    const InstrumentationDatabase& GetInstrumentationDatabase() const { return mInstrumentationDatabase; }
    InstrumentationDatabase& GetInstrumentationDatabase() { return mInstrumentationDatabase; }
    const std::vector<std::unique_ptr<NativeModule>>& GetNativeModules() const { return mNativeModules; }
    const std::vector<NativeModuleInstance>& GetNativeModuleInstances() const
    {
        return mNativeModuleInstances;
    }
    const std::vector<std::unique_ptr<JITModule>>& GetJITModules() const { return mJITModules; }
    const std::vector<JITModuleInstance>& GetJITModuleInstances() const { return mJITModuleInstances; }
    const std::vector<Function>& GetJITFunctions() const { return mJITFunctions; }
    const std::vector<JITFunctionInstance>& GetJITFunctionInstances() const { return mJITFunctionInstances; }

private:
    friend class ModuleDatabaseCompatibilityHandler;
    struct Lookup;

    const Lookup& GetLookup(std::shared_lock<std::shared_mutex>& lock) const;
    void Invalidate();
    std::string GetFunctionNameLocked(const Lookup& lookup, const ResolvedAddress& address) const;

    InstrumentationDatabase mInstrumentationDatabase;
    std::vector<std::unique_ptr<NativeModule>> mNativeModules;
    std::vector<NativeModuleInstance> mNativeModuleInstances;
    std::vector<std::unique_ptr<JITModule>> mJITModules;
    std::vector<JITModuleInstance> mJITModuleInstances;
    std::vector<Function> mJITFunctions;
    std::vector<JITFunctionInstance> mJITFunctionInstances;
    std::map<uint64_t, JITFunctionIndices> mJITFunctionAddressMap;
    std::vector<std::unique_ptr<JITExtraDataStorage>> mJITExtraDataStorage;

    mutable std::shared_mutex mLock;
    mutable std::unique_ptr<Lookup> mLookup; ///< built on demand; null after a change
};

} // namespace Profiler
