// Feeds arbitrary bytes to the binary object readers: whole-buffer reads in both modes and
// single-object reads. Whatever is read must write and read back.

#include "FuzzSupport.h"

#include "Serialization/Binary.h"

namespace {

void ReadImage(std::span<const uint8_t> buffer, Serialization::EReadMode mode)
{
    using namespace Serialization;
    std::vector<std::unique_ptr<RTTI::Object>> objects;
    ErrorList errors;
    if (ReadBinaryBuffer(buffer, Fuzz::GetRegistry(), RTTI::GetDefaultObjectFactory(), Fuzz::GetHandlers(),
                         mode, objects, errors))
        Fuzz::CheckRoundTrip(objects);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace Serialization;
    // The input as it is exercises the header and checksum checks; the resealed copy the decoding.
    ReadImage({data, size}, EReadMode::SkipUnknownTypes);
    const std::vector<uint8_t> resealed = Fuzz::Reseal(data, size);
    ReadImage(resealed, EReadMode::SkipUnknownTypes);
    ReadImage(resealed, EReadMode::Strict);

    BinaryMemoryStreamReader reader(EReadMode::SkipUnknownTypes, Fuzz::GetRegistry(),
                                    RTTI::GetDefaultObjectFactory(), Fuzz::GetHandlers());
    ErrorList errors;
    if (reader.Open(resealed, errors) && reader.Contains<Sample::Settings>())
        reader.ReadObject<Sample::Settings>(errors);
    return 0;
}
