#include "System/Platform/Shell.h"

#include "System/Platform/ErrorText.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

extern char** environ;

namespace System::Platform {

namespace {

/// Starts `arguments` (searched in PATH); `onExit` receives the exit status on a thread of its
/// own, which also reaps the child so that no zombie is left behind.
bool Spawn(std::vector<std::string> arguments, std::string& error, std::function<void(int)> onExit = {})
{
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    const int status = posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ);
    if (status != 0) {
        error = arguments.front() + ": " + GetErrorText(status);
        return false;
    }
    std::thread([child, onExit = std::move(onExit)] {
        int exitStatus = 0;
        if (waitpid(child, &exitStatus, 0) == child && onExit)
            onExit(WIFEXITED(exitStatus) ? WEXITSTATUS(exitStatus) : -1);
    }).detach();
    return true;
}

/// "file:///a%20b" for "/a b": the browser's interface takes URIs.
std::string FileUri(const std::filesystem::path& file)
{
    std::string uri = "file://";
    for (unsigned char c : std::filesystem::absolute(file).string()) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '/' || c == '-' || c == '_' || c == '.' || c == '~';
        if (plain) {
            uri += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof(escaped), "%%%02X", c);
            uri += escaped;
        }
    }
    return uri;
}

} // namespace

bool OpenWithAssociatedApplication(const std::filesystem::path& file, std::string& error)
{
    if (file.empty()) {
        error = "no file";
        return false;
    }
    return Spawn({"xdg-open", file.string()}, error);
}

bool ShowInFileBrowser(const std::filesystem::path& file, std::string& error)
{
    if (file.empty()) {
        error = "no file";
        return false;
    }
    const std::string directory = file.parent_path().string();
    // The desktop's file manager interface selects the file; without one the directory opens.
    std::string ignored;
    const bool asked =
        Spawn({"dbus-send", "--session", "--dest=org.freedesktop.FileManager1", "--type=method_call",
               "/org/freedesktop/FileManager1", "org.freedesktop.FileManager1.ShowItems",
               "array:string:" + FileUri(file), "string:"},
              ignored, [directory](int status) {
                  std::string unused;
                  if (status != 0)
                      (void)Spawn({"xdg-open", directory}, unused);
              });
    return asked || Spawn({"xdg-open", directory}, error);
}

} // namespace System::Platform
