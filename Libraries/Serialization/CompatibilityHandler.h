#pragma once

#include "RTTI/CompoundType.h"
#include "RTTI/Object.h"
#include "Utility/ErrorList.h"

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

namespace Serialization {

class BinaryReader;
class BufferCursor;
struct CompoundSchema;
struct PropertySchema;

/// Converts data written by older shapes of one class while a binary object file is read.
/// Readers look handlers up per running class. Every hook returns true to go on; false fails
/// the read (the hook should have added an error record). The default hooks do nothing, so a
/// handler with no overrides merely allows objects of an older version to load.
class CompatibilityHandler {
public:
    virtual ~CompatibilityHandler() = default;

    /// Before a root object or pointee of the class is read: may produce the object itself from
    /// the stored bytes at `cursor` (use `reader` and the cursor's typed reads); the stored bytes
    /// are then skipped by their size. Leaving `outObject` empty reads the object normally.
    virtual bool ReadReplacementObject(BinaryReader& reader, BufferCursor& cursor,
                                       const RTTI::CompoundType& runningClass,
                                       std::string_view storedClassName, const CompoundSchema& storedClass,
                                       std::unique_ptr<RTTI::Object>& outObject,
                                       Serialization::ErrorList& errors);

    /// For a stored property the running class no longer has. `object` points to the instance
    /// being read (an instance of the handler's class); the cursor is at the stored value, which
    /// the reader skips afterwards whatever the handler read.
    virtual bool ReadRemovedProperty(BinaryReader& reader, BufferCursor& cursor, void* object,
                                     const CompoundSchema& storedClass, const PropertySchema& storedProperty,
                                     Serialization::ErrorList& errors);

    /// After every stored property of an instance of the class was read.
    virtual bool FinishObject(void* object, const CompoundSchema& storedClass,
                              Serialization::ErrorList& errors);

    /// Once per root object during whose reading this handler was used, after the whole root.
    virtual bool FinishRootObject(RTTI::Object& rootObject, Serialization::ErrorList& errors);
};

/// The handlers a reader uses, by class name (descriptors from different binaries share
/// names). The handlers are not owned.
class CompatibilityHandlerMap {
public:
    void Add(const RTTI::CompoundType& type, CompatibilityHandler& handler)
    {
        mHandlers[type.GetName()] = &handler;
    }
    template <class T> void Add(CompatibilityHandler& handler) { Add(T::StaticType(), handler); }

    CompatibilityHandler* Find(const RTTI::CompoundType& type) const
    {
        auto it = mHandlers.find(type.GetName());
        return it == mHandlers.end() ? nullptr : it->second;
    }
    bool IsEmpty() const { return mHandlers.empty(); }

private:
    std::unordered_map<std::string, CompatibilityHandler*> mHandlers; // not owned
};

} // namespace Serialization
