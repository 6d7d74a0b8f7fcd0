#include "CaptureModel/FunctionDataCache.h"

#include "CaptureModel/ModuleDatabase.h"
#include "Serialization/Binary.h"
#include "System/Log.h"

namespace Profiler {

std::unique_ptr<FunctionDataCache> FunctionDataCache::Load(const std::filesystem::path& path,
                                                           const RTTI::Registry& registry,
                                                           const ModuleDatabase* modules,
                                                           Serialization::ErrorList& errors)
{
    CacheEntryCompatibilityHandler entryHandler(modules);
    Serialization::CompatibilityHandler cacheHandler; // version 1 caches load with the defaults
    Serialization::CompatibilityHandlerMap handlers;
    handlers.Add<CacheEntry>(entryHandler);
    handlers.Add<FunctionDataCache>(cacheHandler);
    std::vector<std::unique_ptr<RTTI::Object>> roots;
    if (!Serialization::ReadBinaryFile(path, registry, RTTI::GetDefaultObjectFactory(), handlers,
                                       Serialization::EReadMode::SkipUnknownTypes, roots, errors))
        return nullptr;
    for (auto& root : roots) {
        if (root && RTTI::IsA<FunctionDataCache>(root->GetType())) {
            std::unique_ptr<FunctionDataCache> cache(static_cast<FunctionDataCache*>(root.release()));
            cache->RebuildIndex();
            return cache;
        }
    }
    Serialization::ErrorList::ContextScope context(errors, path.string());
    errors.Add(Serialization::EErrorCode::Corrupt,
               "The file does not appear to be a FunctionDataCache file (missing FunctionDataCache object)");
    return nullptr;
}

bool FunctionDataCache::Save(const std::filesystem::path& path, Serialization::ErrorList& errors) const
{
    std::lock_guard lock(mMutex);
    if (Serialization::WriteBinaryFile(path, {this}, errors))
        return true;
    System::Log("Failed to save FunctionDataCache");
    return false;
}

std::optional<FunctionDataCache::CacheEntry> FunctionDataCache::Find(const ResolvedAddress& address) const
{
    std::lock_guard lock(mMutex);
    auto it = mIndex.find(address);
    if (it == mIndex.end())
        return std::nullopt;
    return mEntries[it->second];
}

void FunctionDataCache::Add(CacheEntry entry)
{
    std::lock_guard lock(mMutex);
    auto [it, inserted] = mIndex.emplace(entry.mAddress, mEntries.size());
    if (inserted)
        mEntries.push_back(std::move(entry));
    else
        mEntries[it->second] = std::move(entry);
}

std::optional<std::string> FunctionDataCache::FindSourceFile(const std::string& originalPath) const
{
    std::lock_guard lock(mMutex);
    auto it = mSourceFiles.find(originalPath);
    if (it == mSourceFiles.end())
        return std::nullopt;
    return it->second;
}

void FunctionDataCache::SetSourceFile(const std::string& originalPath, const std::string& resolvedPath)
{
    std::lock_guard lock(mMutex);
    mSourceFiles[originalPath] = resolvedPath;
}

std::size_t FunctionDataCache::GetEntryCount() const
{
    std::lock_guard lock(mMutex);
    return mEntries.size();
}

void FunctionDataCache::RebuildIndex()
{
    std::lock_guard lock(mMutex);
    mIndex.clear();
    // A later entry for the same function wins, as it would have through Add.
    for (std::size_t i = 0; i < mEntries.size(); ++i)
        mIndex[mEntries[i].mAddress] = i;
}

bool CacheEntryCompatibilityHandler::ReadRemovedProperty(Serialization::BinaryReader& reader,
                                                         Serialization::BufferCursor& cursor, void* object,
                                                         const Serialization::CompoundSchema& storedClass,
                                                         const Serialization::PropertySchema& storedProperty,
                                                         Serialization::ErrorList& errors)
{
    if (storedClass.mVersion >= 2)
        return true;
    Kept& kept = mKept[object];
    if (storedProperty.mName == "FunctionAddress")
        return reader.ReadPropertyValue(cursor, storedProperty, kept.functionAddress, errors);
    if (storedProperty.mName == "StartTimeMs")
        return reader.ReadPropertyValue(cursor, storedProperty, kept.startTimeMs, errors);
    if (storedProperty.mName == "ProcessID")
        return reader.ReadPropertyValue(cursor, storedProperty, kept.processID, errors);
    return true;
}

bool CacheEntryCompatibilityHandler::FinishObject(void* object,
                                                  const Serialization::CompoundSchema& storedClass,
                                                  Serialization::ErrorList&)
{
    if (storedClass.mVersion >= 2 || !mModules)
        return true;
    auto it = mKept.find(object);
    if (it != mKept.end()) {
        auto& entry = *static_cast<FunctionDataCache::CacheEntry*>(object);
        entry.mAddress =
            mModules->Resolve(it->second.processID, it->second.startTimeMs, it->second.functionAddress)
                .Function;
    }
    return true;
}

} // namespace Profiler

QX_RTTI_DEFINE_CLASS(Profiler::FunctionDataCache::CacheEntry, 2)
{
    type.Property("Address", &CacheEntry::mAddress)
        .Property("Source", &CacheEntry::mSource)
        .Property("AddressToLineMap", &CacheEntry::mAddressToLineMap)
        .Property("AddressToLineMapNew", &CacheEntry::mAddressToLineMapNew)
        .Property("Instructions", &CacheEntry::mInstructions)
        .Property("Lines", &CacheEntry::mLines);
}

QX_RTTI_DEFINE_CLASS(Profiler::FunctionDataCache, 2)
{
    type.Property("SourceFiles", &FunctionDataCache::mSourceFiles)
        .Property("Entries", &FunctionDataCache::mEntries);
}
