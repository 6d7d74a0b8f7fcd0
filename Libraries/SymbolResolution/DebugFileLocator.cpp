#include "SymbolResolution/DebugFileLocator.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace Profiler {

namespace {

namespace fs = std::filesystem;

bool IsRegularFile(const std::string& path)
{
    std::error_code error;
    return fs::is_regular_file(path, error);
}

std::string Hex32(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof(text), "%08x", value);
    return text;
}

class Search {
public:
    Search(const std::string& imagePath, const SymbolSearchOptions& options)
        : mImagePath(imagePath), mOptions(options)
    {}

    LocatedModuleFiles Run()
    {
        OpenImage();
        if (mFiles.Image != nullptr && mFiles.Image->HasDebugInfo()) {
            mFiles.ImageHasDebugInfo = true;
            Log("Debug information in image", "found", mFiles.Image->GetPath(), {},
                EResolveStepOutcome::Found);
            mFiles.DebugSource = EDebugInfoSource::Image;
            return std::move(mFiles);
        }
        if (mFiles.Image != nullptr)
            Log("Debug information in image", "none (stripped)", mFiles.Image->GetPath(), {},
                EResolveStepOutcome::NotFound);
        if (mFiles.Image == nullptr) {
            Log("Debug information", "not searched without the image", {}, {}, EResolveStepOutcome::NotFound);
            return std::move(mFiles);
        }
        if (SearchLocated())
            mFiles.DebugSource = EDebugInfoSource::Located;
        else if (SearchByBuildId())
            mFiles.DebugSource = EDebugInfoSource::BuildId;
        else if (SearchByDebugLink())
            mFiles.DebugSource = EDebugInfoSource::DebugLink;
        if (mFiles.DebugFile == nullptr)
            Log("Debug information", "not found", {}, {}, EResolveStepOutcome::NotFound);
        return std::move(mFiles);
    }

private:
    void Log(std::string label, std::string detail, std::string path, std::string value,
             EResolveStepOutcome outcome)
    {
        mFiles.Log.push_back(
            {std::move(label), std::move(detail), std::move(path), std::move(value), outcome});
    }

    /// The recorded path first; when the capture came from elsewhere, the same name in a local folder.
    void OpenImage()
    {
        std::vector<std::string> candidates{mImagePath};
        const std::string name = fs::path(mImagePath).filename().string();
        for (const std::string& folder : mOptions.LocalFolders)
            if (!name.empty())
                candidates.push_back((fs::path(folder) / name).string());
        for (const std::string& candidate : candidates) {
            if (!IsRegularFile(candidate)) {
                Log("Image", "not found", candidate, {}, EResolveStepOutcome::NotFound);
                continue;
            }
            auto image = std::make_unique<ElfImage>();
            std::string error;
            if (!image->Open(candidate, error)) {
                Log("Image", "unreadable: " + error, candidate, {}, EResolveStepOutcome::Failed);
                mFiles.ImageBroken = true;
                continue;
            }
            Log("Image", "found", candidate, {}, EResolveStepOutcome::Found);
            Log("Build id", image->GetBuildId().empty() ? "none" : "", {}, image->GetBuildId(),
                EResolveStepOutcome::Info);
            mFiles.Image = std::move(image);
            mFiles.ImageBroken = false;
            return;
        }
    }

    /// Opens a candidate debug file; it must carry DWARF and belong to the image's build.
    bool TryDebugFile(const std::string& label, const std::string& path, std::optional<uint32_t> expectedCrc)
    {
        if (!IsRegularFile(path)) {
            Log(label, "not found", path, {}, EResolveStepOutcome::NotFound);
            return false;
        }
        auto candidate = std::make_unique<ElfImage>();
        std::string error;
        if (!candidate->Open(path, error)) {
            Log(label, "unreadable: " + error, path, {}, EResolveStepOutcome::Failed);
            return false;
        }
        const std::string& imageId = mFiles.Image->GetBuildId();
        if (!imageId.empty() && candidate->GetBuildId() != imageId) {
            Log(label, "build id differs", path, candidate->GetBuildId(), EResolveStepOutcome::Mismatch);
            return false;
        }
        if (imageId.empty() && expectedCrc) {
            const std::optional<uint32_t> crc = ComputeFileCrc32(path);
            if (!crc || *crc != *expectedCrc) {
                Log(label, "checksum differs", path, crc ? Hex32(*crc) : std::string(),
                    EResolveStepOutcome::Mismatch);
                return false;
            }
        }
        if (!candidate->HasDebugInfo()) {
            Log(label, "no debug information in file", path, {}, EResolveStepOutcome::Mismatch);
            return false;
        }
        Log(label, "found", path, {}, EResolveStepOutcome::Found);
        mFiles.DebugFile = std::move(candidate);
        return true;
    }

    /// A file the user picked for this build; a stale choice (another build) is logged and skipped.
    bool SearchLocated()
    {
        const std::string& id = mFiles.Image->GetBuildId();
        auto found = mOptions.LocatedDebugFiles.find(id.empty() ? mImagePath : id);
        if (found == mOptions.LocatedDebugFiles.end())
            return false;
        const auto& link = mFiles.Image->GetDebugLink();
        return TryDebugFile("Debug file located by hand", found->second,
                            link ? std::optional<uint32_t>(link->second) : std::nullopt);
    }

    bool SearchByBuildId()
    {
        const std::string& id = mFiles.Image->GetBuildId();
        if (id.size() < 3)
            return false;
        const std::string relative = ".build-id/" + id.substr(0, 2) + "/" + id.substr(2) + ".debug";
        std::vector<std::string> roots{mOptions.DebugRoot};
        roots.insert(roots.end(), mOptions.LocalFolders.begin(), mOptions.LocalFolders.end());
        for (const std::string& root : roots)
            if (!root.empty() &&
                TryDebugFile("Debug file by build id", (fs::path(root) / relative).string(), std::nullopt))
                return true;
        return false;
    }

    bool SearchByDebugLink()
    {
        const auto& link = mFiles.Image->GetDebugLink();
        if (!link) {
            Log("Debug link", "none", {}, {}, EResolveStepOutcome::NotFound);
            return false;
        }
        Log("Debug link", "", {}, link->first, EResolveStepOutcome::Info);
        const fs::path directory = fs::absolute(fs::path(mFiles.Image->GetPath())).parent_path();
        std::vector<std::string> candidates{(directory / link->first).string(),
                                            (directory / ".debug" / link->first).string()};
        if (!mOptions.DebugRoot.empty())
            candidates.push_back(
                (fs::path(mOptions.DebugRoot) / directory.relative_path() / link->first).string());
        for (const std::string& folder : mOptions.LocalFolders)
            candidates.push_back((fs::path(folder) / link->first).string());
        for (const std::string& candidate : candidates) {
            // The link names a file of its own; the image itself is never its debug file.
            if (candidate == mFiles.Image->GetPath())
                continue;
            if (TryDebugFile("Debug file by debug link", candidate, link->second))
                return true;
        }
        return false;
    }

    const std::string& mImagePath;
    const SymbolSearchOptions& mOptions;
    LocatedModuleFiles mFiles;
};

} // namespace

bool DebugFileMatchesImage(const ElfImage& image, const ElfImage& candidate, std::string& reason)
{
    if (!candidate.HasDebugInfo()) {
        reason = "The file holds no debug information.";
        return false;
    }
    if (!image.GetBuildId().empty()) {
        if (candidate.GetBuildId() == image.GetBuildId())
            return true;
        reason = "The file belongs to another build (build id " +
                 (candidate.GetBuildId().empty() ? std::string("none") : candidate.GetBuildId()) +
                 ", expected " + image.GetBuildId() + ").";
        return false;
    }
    const auto& link = image.GetDebugLink();
    if (!link) {
        // Without a build id or a debug link nothing ties a file to the image.
        reason = "The module has neither a build id nor a debug link to check the file against.";
        return false;
    }
    const std::optional<uint32_t> crc = ComputeFileCrc32(candidate.GetPath());
    if (crc && *crc == link->second)
        return true;
    reason = "The file's checksum differs from the one the module's debug link records.";
    return false;
}

LocatedModuleFiles LocateModuleFiles(const std::string& imagePath, const SymbolSearchOptions& options)
{
    return Search(imagePath, options).Run();
}

const char* GetResolveStepOutcomeText(EResolveStepOutcome outcome)
{
    switch (outcome) {
    case EResolveStepOutcome::Found:
        return "Found";
    case EResolveStepOutcome::NotFound:
        return "Not found";
    case EResolveStepOutcome::Mismatch:
        return "Mismatch";
    case EResolveStepOutcome::Failed:
        return "Failed";
    case EResolveStepOutcome::Info:
        return "Info";
    }
    return "Unknown";
}

const char* GetDebugInfoSourceText(EDebugInfoSource source)
{
    switch (source) {
    case EDebugInfoSource::None:
        return "not found";
    case EDebugInfoSource::Image:
        return "in the file itself";
    case EDebugInfoSource::BuildId:
        return "by build id";
    case EDebugInfoSource::DebugLink:
        return "by debug link";
    case EDebugInfoSource::Located:
        return "located by hand";
    }
    return "unknown";
}

const char* GetModuleResolveStatusText(EModuleResolveStatus status)
{
    switch (status) {
    case EModuleResolveStatus::DebugInfo:
        return "Debug information found";
    case EModuleResolveStatus::SymbolsOnly:
        return "No debug information; symbols only";
    case EModuleResolveStatus::DebugInfoBroken:
        return "Debug information could not be read";
    case EModuleResolveStatus::ImageBroken:
        return "Image could not be read";
    case EModuleResolveStatus::ImageNotFound:
        return "Image not found";
    }
    return "Unknown";
}

} // namespace Profiler
