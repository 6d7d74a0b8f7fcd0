#include "Support/ShellCommand.h"
#include "Support/TempDirectory.h"

#include "../SymbolResolution/TestPrograms.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <sstream>

// qx source end to end: perf text of a program compiled by the test, imported, and the function's
// lines and instructions printed with their time.

namespace {

using testing::HasSubstr;
using TestSupport::ShellQuote;

/// The printed row of `line`: "Incl Excl Samples Line Source", or empty when there is none.
std::vector<std::string> SourceRow(const std::string& output, int32_t line)
{
    std::istringstream rows(output);
    for (std::string row; std::getline(rows, row);) {
        std::istringstream words(row);
        std::vector<std::string> fields;
        for (std::string word; words >> word && fields.size() < 4;)
            fields.push_back(word);
        if (fields.size() == 4 && fields[3] == std::to_string(line))
            return fields;
    }
    return {};
}

TEST(QxSourceCommand, PrintsTheTimeOfEachLineAndInstruction)
{
    const SymbolTest::Programs& programs = SymbolTest::GetPrograms();
    ASSERT_FALSE(programs.Full.empty());
    const std::string image = programs.Full.string();
    // A sampled address of Sum where the inlined Square runs, and Caller's return address.
    const uint64_t sum = SymbolTest::SymbolAddress("Sum");
    const uint64_t caller = SymbolTest::SymbolAddress("Caller");
    const uint64_t inSquare = SymbolTest::AddressInInlinedSquare();
    ASSERT_NE(inSquare, 0u);
    // The return address of Caller's call of Sum: the instruction after it, as objdump lists it.
    uint64_t returnAddress = 0;
    {
        std::istringstream listing(SymbolTest::RunCommand("objdump -d --no-show-raw-insn " + image));
        bool afterCall = false;
        for (std::string row; std::getline(listing, row) && !returnAddress;) {
            if (afterCall)
                returnAddress = std::stoull(row, nullptr, 16);
            afterCall = row.find("call") != std::string::npos && row.find("<Sum>") != std::string::npos;
        }
    }
    ASSERT_GT(returnAddress, caller);

    TestSupport::TempDirectory directory;
    {
        std::ofstream text(directory / "perf.txt");
        char frame[512];
        for (int sample = 0; sample < 20; ++sample) {
            text << "full 4000/4000 100." << 100 + sample << "000: 1000000 cpu-clock:\n";
            std::snprintf(frame, sizeof(frame), "\t%16" PRIx64 " Sum+0x%" PRIx64 " (%s)\n", inSquare,
                          inSquare - sum, image.c_str());
            text << frame;
            std::snprintf(frame, sizeof(frame), "\t%16" PRIx64 " Caller+0x%" PRIx64 " (%s)\n\n",
                          returnAddress, returnAddress - caller, image.c_str());
            text << frame;
        }
    }
    auto qx = [&](const std::string& arguments) {
        return TestSupport::RunShell(ShellQuote(QX_BINARY) + " " + arguments, directory.GetPath());
    };
    const auto imported = qx("import perf.txt -o capture");
    ASSERT_EQ(imported.exitCode, 0) << imported.err;

    const auto source = qx("source capture Sum");
    ASSERT_EQ(source.exitCode, 0) << source.err;
    EXPECT_THAT(source.out, HasSubstr("Source: " + programs.Source.string()));
    EXPECT_THAT(source.out, HasSubstr("Total 20.000 ms, on lines 20.000 ms, unattributed 0.000 ms"));
    // Code inlined from Square, in the same file, counts for Square's own line.
    EXPECT_EQ(SourceRow(source.out, SymbolTest::kSquareLine),
              (std::vector<std::string>{"20.000", "20.000", "20", std::to_string(SymbolTest::kSquareLine)}))
        << source.out;

    // The caller's time sits on its call line, as time of the functions it calls: none of it is
    // the line's own, so no own samples either.
    const auto callerSource = qx("source capture Caller");
    ASSERT_EQ(callerSource.exitCode, 0) << callerSource.err;
    EXPECT_EQ(SourceRow(callerSource.out, SymbolTest::kCallerCallLine),
              (std::vector<std::string>{"20.000", "0.000", "0", std::to_string(SymbolTest::kCallerCallLine)}))
        << callerSource.out;

    const auto disassembly = qx("source capture Sum --disasm");
    ASSERT_EQ(disassembly.exitCode, 0) << disassembly.err;
    char address[32];
    std::snprintf(address, sizeof(address), "%016" PRIx64, inSquare);
    EXPECT_THAT(disassembly.out, testing::ContainsRegex("20\\.000 +20 +" + std::string(address)));

    const auto missing = qx("source capture NoSuchFunction");
    EXPECT_EQ(missing.exitCode, 3);
    EXPECT_THAT(missing.err, HasSubstr("no function named 'NoSuchFunction'"));
}

} // namespace
