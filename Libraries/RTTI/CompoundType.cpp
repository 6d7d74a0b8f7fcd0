#include "RTTI/CompoundType.h"

namespace RTTI {

CompoundType::CompoundType(std::string name, uint32_t version, const Operations& operations)
    : Type(std::move(name), EDataType::Compound), mVersion(version), mCreate(operations.create),
      mDestroy(operations.destroy), mToObject(operations.toObject), mFromObject(operations.fromObject)
{}

const CompoundType& CompoundType::GetBase(std::size_t index) const
{
    // Bases are declared with ClassBuilder::Base<B>(), which only accepts reflected classes.
    return *mBases[index].type().AsCompound();
}

const std::vector<Property>& CompoundType::GetProperties() const
{
    std::call_once(mFlattenOnce, [this] {
        for (const BaseLink& link : mBases) {
            for (Property property : link.type().AsCompound()->GetProperties()) {
                property.mBaseOffset += link.offset;
                mFlattened.push_back(std::move(property));
            }
        }
        mFlattened.insert(mFlattened.end(), mOwnProperties.begin(), mOwnProperties.end());
    });
    return mFlattened;
}

const Property* CompoundType::FindProperty(std::string_view name) const
{
    for (const Property& property : GetProperties())
        if (property.GetName() == name)
            return &property;
    return nullptr;
}

} // namespace RTTI
