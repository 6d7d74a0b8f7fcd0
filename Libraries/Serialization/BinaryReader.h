#pragma once

#include "RTTI/ObjectFactory.h"
#include "RTTI/Registry.h"
#include "Serialization/BufferCursor.h"
#include "Serialization/CompatibilityHandler.h"
#include "Serialization/Schema.h"
#include "Utility/ErrorList.h"

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace Serialization {

enum class EReadMode : uint32_t {
    Strict = 0,           ///< a class that is not registered fails the read
    SkipUnknownTypes = 1, ///< objects of unregistered classes are skipped (pointers stay null)
};

/// What the file and memory readers of binary object images share: the parsed schema, the
/// object table and the mapping of stored classes onto the running ones (built once, after the
/// schema is read), and the decoding of values. Compatibility handlers receive the reader to
/// read stored values through ReadValue / ReadPropertyValue / SkipValue.
/// The registry must hold the schema classes (Serialization::RegisterSchemaTypes), since the
/// schema inside every image is itself read through it.
class BinaryReader {
public:
    virtual ~BinaryReader();
    BinaryReader(const BinaryReader&) = delete;
    BinaryReader& operator=(const BinaryReader&) = delete;

    EReadMode GetMode() const { return mMode; }
    const RTTI::Registry& GetRegistry() const { return mRegistry; }
    /// The header's magic and version (kBinaryMagic and 4 until a header was read).
    uint32_t GetMagic() const { return mMagic; }
    uint32_t GetVersion() const { return mVersion; }
    /// The schema of the opened image; null until it was read.
    const Schema* GetSchema() const { return mSchema.get(); }

    /// Whether the object table lists a root of `type` or of a class derived from it (legacy
    /// files have no table: false).
    bool Contains(const RTTI::CompoundType& type) const;
    template <class T> bool Contains() const { return Contains(T::StaticType()); }

    /// Reads one stored value at `cursor` into `value`, an instance of `type`; `storedTypeName`
    /// is the type name the file stored it under (usually the same).
    bool ReadValue(BufferCursor& cursor, const RTTI::Type& type, std::string_view storedTypeName, void* value,
                   ErrorList& errors);
    template <class T> bool ReadValue(BufferCursor& cursor, T& value, ErrorList& errors)
    {
        const RTTI::Type& type = RTTI::TypeOf<T>();
        return ReadValue(cursor, type, type.GetName(), &value, errors);
    }
    /// Reads the stored value of a (removed) property into `value`; fails with the type switch
    /// message when T is not the stored type.
    template <class T>
    bool ReadPropertyValue(BufferCursor& cursor, const PropertySchema& storedProperty, T& value,
                           ErrorList& errors)
    {
        const RTTI::Type& type = RTTI::TypeOf<T>();
        if (!CheckStoredType(storedProperty, type, errors))
            return false;
        return ReadValue(cursor, type, storedProperty.mType.mTypeName, &value, errors);
    }
    /// Moves the cursor past one stored value of the given stored type (clamped to the buffer).
    bool SkipValue(BufferCursor& cursor, const TypeSchema& storedType, ErrorList& errors);

protected:
    BinaryReader(EReadMode mode, const RTTI::Registry& registry, const RTTI::ObjectFactory& factory,
                 const CompatibilityHandlerMap& handlers);

    struct ChunkChecksum {
        uint64_t offset = 0; ///< from the start of the record
        uint64_t size = 0;
        uint64_t checksum = 0;
    };
    struct ObjectTableEntry {
        std::string typeName;
        uint64_t offset = 0; ///< from the start of the data area
        uint64_t size = 0;
        std::vector<ChunkChecksum> chunks;
    };

    /// Reads and checks the 8-byte header at the cursor.
    bool CheckHeader(BufferCursor& cursor, ErrorList& errors);
    /// Checks the schema block's checksum, parses the schema text and the object table, and
    /// moves the cursor past the block.
    bool ParseSchemaBlock(BufferCursor& cursor, uint64_t blockSize, ErrorList& errors);
    /// Parses the schema text at the cursor and builds the class mapping.
    bool ParseSchemaText(BufferCursor& cursor, ErrorList& errors);
    /// Verifies every entry's chunks against the data area, then reads all roots.
    bool ReadDataArea(std::span<const uint8_t> dataArea,
                      std::vector<std::unique_ptr<RTTI::Object>>& outObjects, ErrorList& errors);
    /// Reads the root count and the roots that follow; nothing is appended on failure.
    bool ReadRoots(BufferCursor& cursor, std::vector<std::unique_ptr<RTTI::Object>>& outObjects,
                   ErrorList& errors);
    /// Verifies an entry's chunks (relative to `record`, of which `available` bytes exist).
    bool VerifyChunks(const ObjectTableEntry& entry, const uint8_t* record, uint64_t available,
                      ErrorList& errors) const;
    /// Verifies the record and reads the one root object in it.
    std::unique_ptr<RTTI::Object> ReadEntry(const ObjectTableEntry& entry, std::span<const uint8_t> record,
                                            ErrorList& errors);
    /// The first entry naming a registered class that is `type` or derived from it.
    const ObjectTableEntry* FindEntry(const RTTI::CompoundType& type) const;

    /// "The buffer is corrupt: expected %lld bytes available for reading".
    static bool ReportShortData(ErrorList& errors, uint64_t needed);

    uint32_t mMagic;
    uint32_t mVersion;
    std::unique_ptr<Schema> mSchema;
    std::vector<ObjectTableEntry> mTable;
    uint64_t mDataStart = 0;

private:
    struct ValuePlan;
    struct ClassMapping;
    struct Plans;
    struct ObjectRef {
        void* object = nullptr;
        const RTTI::CompoundType* type = nullptr;
    };
    enum class ERootResult { Read, Skipped, Failed };

    bool CheckStoredType(const PropertySchema& storedProperty, const RTTI::Type& type,
                         ErrorList& errors) const;
    bool IsStoredAs(const std::string& storedTypeName, const RTTI::Type& type) const;

    ERootResult ReadRootRecord(BufferCursor& cursor, std::unique_ptr<RTTI::Object>& outObject,
                               ErrorList& errors);
    ClassMapping& GetClassMapping(std::string_view storedName, const RTTI::CompoundType* knownRunning);
    void MapProperties(ClassMapping& mapping) const;
    const ValuePlan& GetPlan(const RTTI::Type& running, std::string_view storedName);
    void FillPlan(ValuePlan& plan);
    bool ReadPlannedValue(BufferCursor& cursor, const ValuePlan& plan, void* value, ErrorList& errors);
    bool ReadEnum(BufferCursor& cursor, const ValuePlan& plan, void* value, ErrorList& errors);
    bool ReadArray(BufferCursor& cursor, const ValuePlan& plan, void* value, ErrorList& errors);
    bool ReadMap(BufferCursor& cursor, const ValuePlan& plan, void* value, ErrorList& errors);
    bool ReadSet(BufferCursor& cursor, const ValuePlan& plan, void* value, ErrorList& errors);
    bool ReadPointer(BufferCursor& cursor, const ValuePlan& plan, void* value, ErrorList& errors);
    bool ReadCompoundByName(BufferCursor& cursor, std::string_view storedName, ObjectRef& outObject,
                            ErrorList& errors);
    bool ReadCompoundBody(BufferCursor& cursor, ClassMapping& mapping, void* object, std::size_t start,
                          uint64_t size, ErrorList& errors);
    bool SkipValueAtDepth(BufferCursor& cursor, const TypeSchema& storedType, int depth, ErrorList& errors);
    std::size_t GetPrimitiveWidth(std::string_view typeName) const;
    bool EnterNesting(ErrorList& errors);
    void MarkUsed(CompatibilityHandler* handler);

    EReadMode mMode;
    const RTTI::Registry& mRegistry;
    const RTTI::ObjectFactory& mFactory;
    const CompatibilityHandlerMap& mHandlers;
    std::unique_ptr<Plans> mPlans;
    std::vector<CompatibilityHandler*> mUsedHandlers; // in the order of first use, per root
    int mDepth = 0;
};

} // namespace Serialization
