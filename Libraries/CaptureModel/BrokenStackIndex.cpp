#include "CaptureModel/BrokenStackIndex.h"

namespace Profiler {

const std::vector<BrokenStackIndex::Chunk>* BrokenStackIndex::FindChunks(int32_t thread) const
{
    const auto found = mChunksByThread.find(thread);
    return found == mChunksByThread.end() ? nullptr : &found->second;
}

bool BrokenStackIndex::Save(const std::filesystem::path&, Serialization::ErrorList&) const
{
    return true;
}

} // namespace Profiler
