#pragma once

#include "RTTI/Type.h"

#include <cstddef>
#include <cstring>
#include <mutex>
#include <string_view>
#include <vector>

namespace RTTI {

class Object;
class Registry;
template <class T> class ClassBuilder;

/// One reflected member of a class: its name, its type and how to reach it inside an object.
class Property {
public:
    const std::string& GetName() const { return mName; }
    const Type& GetType() const { return mTypeGetter(); }

    /// The member inside `object`, a pointer to the class whose property list this property
    /// came from (properties of bases are adjusted to the base's place in the derived class).
    void* GetAddress(void* object) const
    {
        return mAccessor(static_cast<char*>(object) + mBaseOffset, mMemberPointer);
    }
    const void* GetAddress(const void* object) const { return GetAddress(const_cast<void*>(object)); }

private:
    friend class CompoundType;
    template <class T> friend class ClassBuilder;

    using Accessor = void* (*)(void* owner, const unsigned char* memberPointer);

    std::string mName;
    TypeGetter mTypeGetter = nullptr;
    Accessor mAccessor = nullptr;
    std::ptrdiff_t mBaseOffset = 0;
    // The pointer-to-member, stored as bytes so that one Property type serves every class.
    alignas(std::max_align_t) unsigned char mMemberPointer[16] = {};
};

/// A class or struct with named properties, a version and base classes. Registries assign
/// each class an index in a pre-order walk of the inheritance forest; IsA compares indices, so
/// it also works between descriptors of the same class built by different binaries.
class CompoundType final : public Type {
public:
    struct BaseLink {
        TypeGetter type;
        std::ptrdiff_t offset; ///< from the start of this class to the base's subobject
    };

    /// The version of the class's stored shape.
    uint32_t GetVersion() const { return mVersion; }
    const std::vector<BaseLink>& GetBaseLinks() const { return mBases; }
    const CompoundType& GetBase(std::size_t index) const;
    /// Properties declared by this class itself, in declaration order.
    const std::vector<Property>& GetOwnProperties() const { return mOwnProperties; }
    /// The flattened list: each base's flattened list in order, then the own properties. This is
    /// the stored order in object files. Computed once.
    const std::vector<Property>& GetProperties() const;
    const Property* FindProperty(std::string_view name) const;
    /// Former names under which older files still name this class.
    const std::vector<std::string>& GetAliases() const { return mAliases; }

    /// True for classes derived from RTTI::Object, which can be roots and know their type.
    bool IsObjectClass() const { return mToObject != nullptr; }
    /// Converts a pointer to an instance of this class (as void*) to and from RTTI::Object*.
    Object* ToObject(void* instance) const { return mToObject ? mToObject(instance) : nullptr; }
    void* FromObject(Object* object) const { return mFromObject ? mFromObject(object) : nullptr; }
    const void* FromObject(const Object* object) const { return FromObject(const_cast<Object*>(object)); }

    /// Whether a registry has numbered this class; an unnumbered class cannot be written.
    bool IsIndexed() const { return mIndexedBy != nullptr; }
    uint32_t GetIndex() const { return mIndex; }
    uint32_t GetDescendantCount() const { return mDescendantCount; }
    /// CRC-64 chain of the versions from the root class down to this one.
    uint64_t GetFullVersion() const { return mFullVersion; }
    /// Some class on the way up has more than one base, so a pure index interval test can miss.
    bool HasSecondaryBases() const { return mHasSecondaryBases; }

    void* Create() const override { return mCreate ? mCreate() : nullptr; }
    void Destroy(void* instance) const override { mDestroy(instance); }

    struct Operations {
        void* (*create)();
        void (*destroy)(void*);
        Object* (*toObject)(void*);
        void* (*fromObject)(Object*);
    };
    CompoundType(std::string name, uint32_t version, const Operations& operations);

private:
    friend class Registry;
    template <class T> friend class ClassBuilder;

    uint32_t mVersion;
    std::vector<BaseLink> mBases;
    std::vector<Property> mOwnProperties;
    std::vector<std::string> mAliases;
    void* (*mCreate)();
    void (*mDestroy)(void*);
    Object* (*mToObject)(void*);
    void* (*mFromObject)(Object*);

    mutable std::once_flag mFlattenOnce;
    mutable std::vector<Property> mFlattened;

    // Written by the registry that numbered the class last.
    mutable const Registry* mIndexedBy = nullptr; // not owned
    mutable uint32_t mIndex = 0;
    mutable uint32_t mDescendantCount = 0;
    mutable uint64_t mFullVersion = 0;
    mutable bool mHasSecondaryBases = false;
};

} // namespace RTTI
