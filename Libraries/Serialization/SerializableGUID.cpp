#include "Serialization/SerializableGUID.h"

QX_RTTI_DEFINE_CLASS(Serialization::SerializableGUID, 1)
{
    type.Alias("Profiler::SerializableGUID")
        .Property("Data1", &SerializableGUID::mData1)
        .Property("Data2", &SerializableGUID::mData2);
}
