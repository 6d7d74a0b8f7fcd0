#include "CaptureModel/BrokenStackIndex.h"

#include "RTTI/ObjectFactory.h"
#include "Serialization/Binary.h"
#include "Utility/ErrorList.h"

namespace Profiler {

QX_RTTI_DEFINE_CLASS(Profiler::BrokenStackIndex, 1)
{
    type.Property("ChunksByThread", &BrokenStackIndex::mChunksByThread);
}

QX_RTTI_DEFINE_CLASS(Profiler::BrokenStackIndex::Chunk, 1)
{
    type.Property("StartTime", &Chunk::mStartTime)
        .Property("EndTime", &Chunk::mEndTime)
        .Property("FileOffset", &Chunk::mFileOffset)
        .Property("Size", &Chunk::mSize);
}

const std::vector<BrokenStackIndex::Chunk>* BrokenStackIndex::FindChunks(int32_t thread) const
{
    const auto found = mChunksByThread.find(thread);
    return found == mChunksByThread.end() ? nullptr : &found->second;
}

std::unique_ptr<BrokenStackIndex> BrokenStackIndex::Load(const std::filesystem::path& path,
                                                         const RTTI::Registry& registry,
                                                         Serialization::ErrorList& errors)
{
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        errors.Add(Serialization::EErrorCode::FileNotFound, "Unable to open file");
        return nullptr;
    }
    std::vector<std::unique_ptr<RTTI::Object>> objects;
    if (!Serialization::ReadBinaryFile(path, registry, RTTI::GetDefaultObjectFactory(), {},
                                       Serialization::EReadMode::SkipUnknownTypes, objects, errors))
        return nullptr;
    for (auto& object : objects) {
        if (RTTI::IsA<BrokenStackIndex>(object->GetType()))
            return std::unique_ptr<BrokenStackIndex>(static_cast<BrokenStackIndex*>(object.release()));
    }
    errors.Add(Serialization::EErrorCode::Corrupt,
               "The file does not appear to be a BrokenStackIndex file (missing BrokenStackIndex object)");
    return nullptr;
}

bool BrokenStackIndex::Save(const std::filesystem::path& path, Serialization::ErrorList& errors) const
{
    return Serialization::WriteBinaryFile(path, {this}, errors);
}

} // namespace Profiler
