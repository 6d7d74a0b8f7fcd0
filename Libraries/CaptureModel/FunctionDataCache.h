#pragma once

#include "CaptureModel/FunctionData.h"
#include "CaptureModel/ResolvedAddress.h"
#include "RTTI/Reflection.h"
#include "Serialization/CompatibilityHandler.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace RTTI {
class Registry;
}

namespace Profiler {

class ModuleDatabase;

/// Source and disassembly data fetched for the functions of a capture, kept in
/// "functioncache.dat" so that a function is resolved once. Safe to use from several threads.
class FunctionDataCache : public RTTI::Object {
public:
    QX_RTTI_CLASS(FunctionDataCache);

    static constexpr const char* kFileName = "functioncache.dat";

    /// What is known of one function.
    struct CacheEntry {
        QX_RTTI_STRUCT(CacheEntry);

        ResolvedAddress mAddress;
        std::string mSource;
        std::map<uint64_t, int32_t> mAddressToLineMap; ///< the line table of version 1 files
        AddressToLineMap mAddressToLineMapNew;
        std::vector<AsmInstruction> mInstructions;
        std::vector<int32_t> mLines;
    };

    FunctionDataCache() = default;
    FunctionDataCache(const FunctionDataCache&) = delete;
    FunctionDataCache& operator=(const FunctionDataCache&) = delete;

    /// Reads the cache file. Entries of version 1 knew their function by process, time and
    /// absolute address; they are placed through `modules` when given. Null on failure.
    static std::unique_ptr<FunctionDataCache> Load(const std::filesystem::path& path,
                                                   const RTTI::Registry& registry,
                                                   const ModuleDatabase* modules,
                                                   Serialization::ErrorList& errors);
    /// Writes the cache file; a failure is also logged ("Failed to save FunctionDataCache").
    bool Save(const std::filesystem::path& path, Serialization::ErrorList& errors) const;

    std::optional<CacheEntry> Find(const ResolvedAddress& address) const;
    /// Adds the entry, replacing one for the same function.
    void Add(CacheEntry entry);
    /// The cached or resolved path of an original source path.
    std::optional<std::string> FindSourceFile(const std::string& originalPath) const;
    void SetSourceFile(const std::string& originalPath, const std::string& resolvedPath);
    std::size_t GetEntryCount() const;

private:
    void RebuildIndex();

    std::map<std::string, std::string> mSourceFiles;
    std::vector<CacheEntry> mEntries;

    mutable std::mutex mMutex;
    std::unordered_map<ResolvedAddress, std::size_t, ResolvedAddressHash> mIndex;
};

/// Keeps what cache entries of version 1 stored instead of the function key ("FunctionAddress",
/// "StartTimeMs", "ProcessID") and places the entry through a module database when it has one.
class CacheEntryCompatibilityHandler final : public Serialization::CompatibilityHandler {
public:
    explicit CacheEntryCompatibilityHandler(const ModuleDatabase* modules) : mModules(modules) {}

    bool ReadRemovedProperty(Serialization::BinaryReader& reader, Serialization::BufferCursor& cursor,
                             void* object, const Serialization::CompoundSchema& storedClass,
                             const Serialization::PropertySchema& storedProperty,
                             Serialization::ErrorList& errors) override;
    bool FinishObject(void* object, const Serialization::CompoundSchema& storedClass,
                      Serialization::ErrorList& errors) override;

    struct Kept {
        uint64_t functionAddress = 0;
        double startTimeMs = 0.0;
        int32_t processID = 0;
    };
    /// The values kept for entries read so far, by entry.
    const std::unordered_map<const void*, Kept>& GetKept() const { return mKept; }

private:
    const ModuleDatabase* mModules; // not owned; may be null
    std::unordered_map<const void*, Kept> mKept;
};

} // namespace Profiler
