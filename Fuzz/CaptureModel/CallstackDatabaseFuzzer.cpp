// Loads damaged "CallstackDatabase.dat" images. Random bytes would nearly always stop at the
// checksum, so unless the first byte is odd the input's checksum field is rewritten to match
// and the structure checks behind it get exercised. Stacks of a loaded store are walked.

#include "CaptureModel/CallstackNodeStore.h"
#include "Utility/ErrorList.h"

#include <cstring>
#include <vector>
#include <xxhash.h>

using namespace Profiler;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    std::vector<uint8_t> file(data, data + size);
    if (file.size() >= CallstackNodeStore::kFileHeaderSize && (file[0] & 1) == 0) {
        const uint64_t checksum = XXH64(file.data() + CallstackNodeStore::kFileHeaderSize,
                                        file.size() - CallstackNodeStore::kFileHeaderSize, 0);
        std::memcpy(file.data() + 4, &checksum, sizeof(checksum));
    }
    CallstackNodeStore store;
    Serialization::ErrorList errors;
    if (!store.LoadFromMemory(file.data(), file.size(), errors))
        return 0;
    std::vector<uint64_t> frames;
    const uint64_t count = store.GetNodeCount();
    for (uint64_t id = count > 64 ? count - 64 : 0; id <= count; ++id)
        store.GetStack(id, frames);
    if (count > 0)
        store.Insert(1, count - 1);
    return 0;
}
