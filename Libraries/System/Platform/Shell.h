#pragma once

#include <filesystem>
#include <string>

// Hand-offs to the desktop: files are opened by whatever application the user associated with
// them, and shown in the user's file browser. Both return as soon as the request is made.

namespace System::Platform {

/// Opens the file with the desktop's associated application. False, with the reason, when the
/// request could not be made.
[[nodiscard]] bool OpenWithAssociatedApplication(const std::filesystem::path& file, std::string& error);

/// Shows the file selected in the desktop's file browser; where the browser cannot select a
/// file, it opens the file's directory. False, with the reason, when neither can be asked for.
[[nodiscard]] bool ShowInFileBrowser(const std::filesystem::path& file, std::string& error);

} // namespace System::Platform
