#include "TestPrograms.h"

#include "CaptureModel/ModuleDatabase.h"
#include "SymbolResolution/FunctionDataResolver.h"
#include "SymbolResolution/SourceLocations.h"

#include <gtest/gtest.h>

#include <set>

using namespace Profiler;

namespace {

/// A file system that holds exactly the given files.
FileExistsFunction Holding(std::set<std::string> files)
{
    return [files = std::move(files)](const std::string& path) { return files.contains(path); };
}

} // namespace

TEST(SourceLocations, SplitsAndJoinsPathsOfBothSeparators)
{
    EXPECT_EQ(SplitPathComponents("C:\\build\\src/a\\x.cpp"),
              (std::vector<std::string>{"C:", "build", "src", "a", "x.cpp"}));
    EXPECT_EQ(SplitPathComponents("/usr//src/"), (std::vector<std::string>{"", "usr", "src"}));
    EXPECT_TRUE(SplitPathComponents("").empty());
    const std::vector<std::string> absolute{"", "usr", "src"};
    EXPECT_EQ(JoinPathComponents(absolute, 0, 3), "/usr/src");
    EXPECT_EQ(JoinPathComponents(absolute, 0, 1), "/");
    EXPECT_EQ(JoinPathComponents(absolute, 1, 3), "usr/src");
    EXPECT_TRUE(PathComponentsEqual("Build", "bUILD"));
    EXPECT_FALSE(PathComponentsEqual("build", "builds"));
}

TEST(SourceLocations, LearnsThePrefixesBeforeTheCommonTailMostRecentlyUsedFirst)
{
    SourcePathMappings locations;
    AddSourceLocation(locations, "C:\\build\\src\\a\\x.cpp", "/work/src/a/x.cpp");
    ASSERT_EQ(locations.size(), 1u);
    EXPECT_EQ(locations[0].OriginalPathPrefix, "C:/build");
    EXPECT_EQ(locations[0].NewPathPrefixes, std::vector<std::string>{"/work"});

    // Nothing in common at the end: the whole recorded path maps to the whole chosen one.
    SourcePathMappings renamed;
    AddSourceLocation(renamed, "/build/old.cpp", "/home/me/new.cpp");
    ASSERT_EQ(renamed.size(), 1u);
    EXPECT_EQ(renamed[0].OriginalPathPrefix, "/build/old.cpp");
    EXPECT_EQ(renamed[0].NewPathPrefixes, std::vector<std::string>{"/home/me/new.cpp"});
    EXPECT_EQ(GetCandidatePaths(renamed, "/build/old.cpp", Holding({"/home/me/new.cpp"})),
              std::vector<std::string>{"/home/me/new.cpp"});

    // Choosing the recorded file itself teaches nothing.
    SourcePathMappings same;
    AddSourceLocation(same, "/src/x.cpp", "/src/x.cpp");
    EXPECT_TRUE(same.empty());

    // The most recently used comes first.
    SourcePathMappings recent;
    AddSourceLocation(recent, "/build/src/a.cpp", "/one/src/a.cpp");
    AddSourceLocation(recent, "/build/src/b.cpp", "/two/src/b.cpp");
    ASSERT_EQ(recent.size(), 1u);
    EXPECT_EQ(recent[0].NewPathPrefixes, (std::vector<std::string>{"/two", "/one"}));

    // A tree already known moves to the front instead of being added again.
    AddSourceLocation(recent, "/build/src/c.cpp", "/one/src/c.cpp");
    EXPECT_EQ(recent[0].NewPathPrefixes, (std::vector<std::string>{"/one", "/two"}));

    // Another recorded prefix comes first; using the old one again moves it back to the front.
    AddSourceLocation(recent, "/ci/lib/d.cpp", "/three/lib/d.cpp");
    ASSERT_EQ(recent.size(), 2u);
    EXPECT_EQ(recent[0].OriginalPathPrefix, "/ci");
    AddSourceLocation(recent, "/build/x/e.cpp", "/two/x/e.cpp");
    EXPECT_EQ(recent[0].OriginalPathPrefix, "/build");
    EXPECT_EQ(recent[0].NewPathPrefixes, (std::vector<std::string>{"/two", "/one"}));
}

TEST(SourceLocations, CandidatesFollowTheMappingsAndExistOnly)
{
    const SourcePathMappings locations{{"C:\\Build\\Src", {"/new", "/old"}}, {"C:/build", {"/whole"}}};
    const auto exists = Holding({"/new/lib/x.cpp", "/old/lib/x.cpp", "/whole/src/lib/x.cpp"});
    // Case does not matter, the separators do not either, and order follows the lists.
    EXPECT_EQ(GetCandidatePaths(locations, "c:\\build\\src\\lib\\x.cpp", exists),
              (std::vector<std::string>{"/new/lib/x.cpp", "/old/lib/x.cpp", "/whole/src/lib/x.cpp"}));
    EXPECT_EQ(GetCandidatePaths(locations, "C:/build/src/lib/y.cpp", exists), std::vector<std::string>{});
    // A prefix longer than the path, or one that only shares a component's beginning, never matches.
    EXPECT_TRUE(GetCandidatePaths(locations, "C:/Build", exists).empty());
    EXPECT_TRUE(GetCandidatePaths({{"/bui", {"/new"}}}, "/build/x.cpp", Holding({"/new/ld/x.cpp"})).empty());
    // Absolute POSIX paths mapped at the root keep their tail.
    EXPECT_EQ(GetCandidatePaths({{"/", {"/mnt/copy/"}}}, "/src/x.cpp", Holding({"/mnt/copy/src/x.cpp"})),
              std::vector<std::string>{"/mnt/copy/src/x.cpp"});
}

TEST(SourceLocations, TheResolverFindsAMovedSourceThroughAMapping)
{
    const SymbolTest::Programs& programs = SymbolTest::GetPrograms();
    ModuleDatabase modules;
    auto module = std::make_unique<NativeModule>();
    module->mPath = programs.NoSource.string();
    const uint32_t index = modules.AddNativeModule(std::move(module));
    SymbolResolver symbols(SymbolTest::IsolatedOptions());
    FunctionDataResolver resolver(modules, symbols, nullptr);
    const ResolvedAddress sum =
        ResolvedAddress::Make(SymbolTest::SymbolAddress("Sum"), ResolvedAddress::kKindNative, index);
    const std::atomic<bool> notCanceled{false};

    FunctionData data;
    FunctionLineData lines;
    std::string error;
    ASSERT_TRUE(resolver.ResolveFunctionData(sum, data, lines, error, notCanceled)) << error;
    ASSERT_EQ(data.mResult, EResolveFunctionDataResult::SourceNotFound);

    // The user browses once to the file; the capture's mapping finds it from then on.
    SourcePathMappings local;
    AddSourceLocation(local, data.mOriginalSourcePath, programs.Source.string());
    resolver.SetSourceLocations(local, {});
    ASSERT_TRUE(resolver.ResolveFunctionData(sum, data, lines, error, notCanceled)) << error;
    EXPECT_EQ(data.mResult, EResolveFunctionDataResult::SourceFoundNoChecksum);
    EXPECT_EQ(std::filesystem::path(data.mResolvedSourcePath), programs.Source);
    EXPECT_FALSE(lines.mAddressToLineMap.mResolvedLines.empty());
}
