#include "CallGraphModel/CallGraphModel.h"

#include "RTTI/ObjectFactory.h"
#include "RTTI/Registry.h"
#include "Serialization/Binary.h"

namespace Profiler {

QX_RTTI_DEFINE_CLASS(Profiler::CallGraphModel, 1)
{
    type.Base<Model>().Property("Threads", &CallGraphModel::mThreads);
}

namespace {

/// Makes the models that a read finds for the session being loaded.
class ModelFactory final : public RTTI::ObjectFactory {
public:
    explicit ModelFactory(const CallGraphModelContext& context) : mContext(context) {}

    void* Create(const RTTI::Type& type) const override
    {
        if (type.GetName() == CallGraphModel::StaticType().GetName())
            return new CallGraphModel(mContext);
        return type.Create();
    }

private:
    const CallGraphModelContext& mContext;
};

} // namespace

void CallGraphModel::RegisterTypes(RTTI::Registry& registry)
{
    registry.Register<CallGraphModel>();
}

bool CallGraphModel::WriteModelFile(Serialization::ErrorList& errors) const
{
    return Serialization::WriteBinaryFile(mDirectory / kModelFileName, {this}, errors);
}

std::unique_ptr<CallGraphModel> LoadCallGraphModel(CallGraphModelContext context,
                                                   const RTTI::Registry& registry,
                                                   Serialization::ErrorList& errors)
{
    const std::filesystem::path directory = context.SessionDirectory / CallGraphModel::kFolderName;
    const ModelFactory factory(context);
    std::vector<std::unique_ptr<RTTI::Object>> objects;
    if (!Serialization::ReadBinaryFile(directory / CallGraphModel::kModelFileName, registry, factory, {},
                                       Serialization::EReadMode::SkipUnknownTypes, objects, errors))
        return nullptr;
    std::unique_ptr<CallGraphModel> model;
    for (auto& object : objects)
        if (auto* found = dynamic_cast<CallGraphModel*>(object.get())) {
            object.release();
            model.reset(found);
            break;
        }
    if (model == nullptr) {
        errors.Add(Serialization::EErrorCode::Corrupt,
                   "The file does not appear to be a CallGraphModel file (missing CallGraphModel object)");
        return nullptr;
    }
    if (!model->CheckLoadedThreads(errors) ||
        !model->mSnapshots.Open(directory / CallGraphModel::kSnapshotsFileName, SnapshotFile::EMode::Reading,
                                errors))
        return nullptr;
    return model;
}

bool CallGraphModel::CheckLoadedThreads(Serialization::ErrorList& errors)
{
    std::lock_guard lock(mThreadsMutex);
    for (auto it = mThreads.begin(); it != mThreads.end();) {
        if (it->second == nullptr) {
            it = mThreads.erase(it); // an object of a class this build does not know
            continue;
        }
        it->second->SetThreadId(it->first);
        if (!it->second->RepairTable()) {
            errors.AddFormatted(Serialization::EErrorCode::Corrupt,
                                "The snapshot table of thread %u is damaged",
                                static_cast<uint32_t>(it->first));
            return false;
        }
        ++it;
    }
    return true;
}

} // namespace Profiler
