// Feeds arbitrary text to the JSON object reader. Whatever is read must survive a binary round
// trip and be writable as JSON unless a float overflowed to infinity.

#include "FuzzSupport.h"

#include "Serialization/Binary.h"
#include "Serialization/Json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace Serialization;
    std::vector<std::unique_ptr<RTTI::Object>> objects;
    ErrorList errors;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (!ReadJson(text, Fuzz::GetRegistry(), RTTI::GetDefaultObjectFactory(), objects, errors))
        return 0;
    Fuzz::CheckRoundTrip(objects);
    std::vector<const RTTI::Object*> roots;
    for (const auto& object : objects)
        roots.push_back(object.get());
    std::string written;
    WriteJson(roots, written, errors);
    return 0;
}
