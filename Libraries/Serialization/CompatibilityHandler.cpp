#include "Serialization/CompatibilityHandler.h"

namespace Serialization {

bool CompatibilityHandler::ReadReplacementObject(BinaryReader&, BufferCursor&, const RTTI::CompoundType&,
                                                 std::string_view, const CompoundSchema&,
                                                 std::unique_ptr<RTTI::Object>&, ErrorList&)
{
    return true;
}

bool CompatibilityHandler::ReadRemovedProperty(BinaryReader&, BufferCursor&, void*, const CompoundSchema&,
                                               const PropertySchema&, ErrorList&)
{
    return true;
}

bool CompatibilityHandler::FinishObject(void*, const CompoundSchema&, ErrorList&)
{
    return true;
}

bool CompatibilityHandler::FinishRootObject(RTTI::Object&, ErrorList&)
{
    return true;
}

} // namespace Serialization
