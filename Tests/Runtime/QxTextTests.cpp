// How qx prints names that come from a capture: JSON that parses whatever the bytes, and no
// control characters reaching a terminal.

#include "CaptureCommandSupport.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <cstdio>
#include <pty.h>
#include <unistd.h>

namespace {

using Profiler::Qx::JsonString;
using Profiler::Qx::TerminalText;

TEST(QxText, JsonStringsAreValidUtf8WhateverTheBytes)
{
    struct Case {
        std::string input;
        std::string expected; ///< the parsed value
    };
    const Case cases[] = {
        {"plain", "plain"},
        {"quote\" back\\ tab\t nl\n bell\x07", "quote\" back\\ tab\t nl\n bell\x07"},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
        {"cut \xc3", "cut \xef\xbf\xbd"},
        {"stray \x80\xbf end", "stray \xef\xbf\xbd\xef\xbf\xbd end"},
        {"overlong \xc0\xaf \xe0\x80\xaf",
         "overlong \xef\xbf\xbd\xef\xbf\xbd \xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
        {"surrogate \xed\xa0\x80", "surrogate \xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
        {"latin1 \xe9t\xe9", "latin1 \xef\xbf\xbdt\xef\xbf\xbd"},
        {std::string("nul \0 in", 8), std::string("nul \0 in", 8)},
    };
    for (const Case& c : cases) {
        const std::string json = "[" + JsonString(c.input) + "]";
        rapidjson::Document document;
        document.Parse<rapidjson::kParseValidateEncodingFlag>(json.c_str(), json.size());
        ASSERT_FALSE(document.HasParseError()) << json;
        EXPECT_EQ(std::string(document[0].GetString(), document[0].GetStringLength()), c.expected) << json;
    }
}

TEST(QxText, ControlCharactersAreEscapedOnlyOnATerminal)
{
    const std::string name = "evil\x1b[2Jname\r\x7f";
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(TerminalText(name, file), name);
    std::fclose(file);

    int controller = -1;
    int terminal = -1;
    ASSERT_EQ(openpty(&controller, &terminal, nullptr, nullptr, nullptr), 0);
    std::FILE* stream = fdopen(terminal, "w");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(TerminalText(name, stream), "evil\\x1b[2Jname\\x0d\\x7f");
    EXPECT_EQ(TerminalText("caf\xc3\xa9", stream), "caf\xc3\xa9");
    std::fclose(stream);
    close(controller);
}

} // namespace
