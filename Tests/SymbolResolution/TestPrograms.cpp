#include "TestPrograms.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace SymbolTest {

namespace {

namespace fs = std::filesystem;

constexpr const char* kProgramSource = R"(#include <stdio.h>
static inline __attribute__((always_inline)) int Square(int x) {
    return x * x + OFFSET;
}
__attribute__((noinline)) int Sum(int n) {
    int total = 0;
    for (int i = 0; i < n; ++i)
        total += Square(i) ^ (total >> 3);
    return total;
}
__attribute__((noinline)) int Caller(int n) {
    return Sum(n) + printf("%d", n);
}
int main(int argc, char** argv) { (void)argv; return Caller(argc * 1000) & 1; }
)";

bool Shell(const std::string& command)
{
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    EXPECT_EQ(status, 0) << command;
    return status == 0;
}

Programs Build()
{
    Programs programs;
    programs.Folder = fs::temp_directory_path() / ("qx-symbols-" + std::to_string(getpid()));
    fs::remove_all(programs.Folder);
    fs::create_directories(programs.Folder / "link");
    fs::create_directories(programs.Folder / "wrong");
    fs::create_directories(programs.Folder / "gone");
    std::ofstream(programs.Folder / "gone" / "program.c") << kProgramSource;
    programs.Source = programs.Folder / "program.c";
    std::ofstream(programs.Source) << kProgramSource;
    const std::string folder = programs.Folder.string();
    const std::string compile = "cd " + folder + " && gcc -g -O2 -fno-omit-frame-pointer -Wl,--build-id ";
    programs.Full = programs.Folder / "full";
    programs.Stripped = programs.Folder / "stripped";
    programs.ByBuildId = programs.Folder / "by-build-id";
    programs.DebugRoot = programs.Folder / "debug-root";
    programs.ByLink = programs.Folder / "link" / "by-link";
    programs.WrongLink = programs.Folder / "wrong" / "wrong-link";
    programs.NoSource = programs.Folder / "no-source";
    if (!Shell(compile + "-DOFFSET=0 program.c -o full") ||
        !Shell(compile + "-DOFFSET=1 program.c -o other") ||
        !Shell(compile + "-DOFFSET=2 gone/program.c -o no-source"))
        return {};
    fs::remove(programs.Folder / "gone" / "program.c");

    const std::string id = RunCommand("readelf -n " + programs.Full.string() +
                                      " | sed -n 's/.*Build ID: \\([0-9a-f]*\\).*/\\1/p'");
    const std::string buildId = id.substr(0, id.find('\n'));
    const fs::path idFolder = programs.DebugRoot / ".build-id" / buildId.substr(0, 2);
    fs::create_directories(idFolder);
    const bool built = Shell("strip -s -o " + programs.Stripped.string() + " " + programs.Full.string()) &&
                       Shell("objcopy --only-keep-debug " + programs.Full.string() + " " +
                             (idFolder / (buildId.substr(2) + ".debug")).string()) &&
                       Shell("strip -g -o " + programs.ByBuildId.string() + " " + programs.Full.string()) &&
                       Shell("cd " + folder +
                             "/link && objcopy --only-keep-debug ../full program.debug && "
                             "objcopy --strip-debug --add-gnu-debuglink=program.debug ../full by-link") &&
                       // The link names a debug file that belongs to another build of the same program.
                       Shell("cd " + folder +
                             "/wrong && objcopy --only-keep-debug ../full program.debug && "
                             "objcopy --strip-debug --add-gnu-debuglink=program.debug ../full wrong-link && "
                             "objcopy --only-keep-debug ../other program.debug");
    return built && !buildId.empty() ? programs : Programs{};
}

} // namespace

const Programs& GetPrograms()
{
    static const Programs kPrograms = Build();
    // The folder goes when the test process ends.
    static const struct Remover {
        fs::path folder;
        ~Remover()
        {
            std::error_code error;
            fs::remove_all(folder, error);
        }
    } kRemover{kPrograms.Folder};
    EXPECT_FALSE(kPrograms.Full.empty()) << "the test programs could not be built";
    return kPrograms;
}

uint64_t SymbolAddress(const std::string& name)
{
    return SymbolAddress(GetPrograms().Full, name);
}

uint64_t SymbolAddress(const fs::path& image, const std::string& name)
{
    const std::string output = RunCommand("nm " + image.string() + " | grep ' " + name + "$'");
    return std::strtoull(output.c_str(), nullptr, 16);
}

uint64_t AddressInInlinedSquare()
{
    const uint64_t sum = SymbolAddress("Sum");
    std::vector<uint64_t> candidates;
    for (uint64_t offset = 0; offset < 64; ++offset)
        candidates.push_back(sum + offset);
    for (const auto& [address, frames] : Addr2Line(GetPrograms().Full, candidates))
        if (frames.size() == 2 && frames[0].first == "Square")
            return address; // the map is ordered: the lowest such address
    return 0;
}

Profiler::SymbolSearchOptions IsolatedOptions()
{
    Profiler::SymbolSearchOptions options;
    options.DebugRoot = (GetPrograms().Folder / "empty-root").string();
    return options;
}

fs::path CompileCpp(const std::string& name, const std::string& source, const std::string& flags)
{
    const fs::path folder = GetPrograms().Folder;
    std::ofstream(folder / (name + ".cpp")) << source;
    if (!Shell("cd " + folder.string() + " && g++ " + flags + " " + name + ".cpp -o " + name))
        return {};
    return folder / name;
}

std::string RunCommand(const std::string& command)
{
    std::string output;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return output;
    std::array<char, 4096> buffer;
    std::size_t read = 0;
    while ((read = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        output.append(buffer.data(), read);
    pclose(pipe);
    return output;
}

std::map<uint64_t, std::vector<std::pair<std::string, int32_t>>>
Addr2Line(const fs::path& image, const std::vector<uint64_t>& addresses)
{
    std::string command = "addr2line -a -f -i -C -e " + image.string();
    for (uint64_t address : addresses) {
        char hex[32];
        std::snprintf(hex, sizeof(hex), " 0x%llx", static_cast<unsigned long long>(address));
        command += hex;
    }
    // With -a each address comes first on a line of its own ("0x..."), then its frames as pairs
    // of lines: function, then file:line.
    std::map<uint64_t, std::vector<std::pair<std::string, int32_t>>> frames;
    std::istringstream output(RunCommand(command));
    std::vector<std::pair<std::string, int32_t>>* current = nullptr;
    for (std::string line; std::getline(output, line);) {
        if (line.rfind("0x", 0) == 0) {
            current = &frames[std::strtoull(line.c_str(), nullptr, 16)];
            continue;
        }
        std::string location;
        if (current == nullptr || !std::getline(output, location))
            break;
        const std::size_t colon = location.rfind(':');
        current->emplace_back(line, colon == std::string::npos ? 0 : std::atoi(location.c_str() + colon + 1));
    }
    return frames;
}

} // namespace SymbolTest
