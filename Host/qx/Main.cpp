// qx: the command-line front end of Quasarix.

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr const char* kUsage =
    "Usage: qx [--version] [--help] <command> [arguments]\n"
    "\n"
    "Quasarix analyses captures of a program's execution (sampled call stacks, context\n"
    "switches and instrumentation zones) as call graphs.\n"
    "\n"
    "Options:\n"
    "  --version   print the version and exit\n"
    "  --help      print this help and exit\n";

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return 1;
    }
    const std::string first = argv[1];
    if (first == "--version" || first == "version") {
        std::printf("qx %s\n", QX_VERSION);
        return 0;
    }
    if (first == "--help" || first == "-h" || first == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::fprintf(stderr, "qx: unknown command '%s'\n\n%s", first.c_str(), kUsage);
    return 1;
}
