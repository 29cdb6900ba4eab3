#include "core/plugins/vst3/PluginScanner.h"

#include "core/plugins/vst3/tests/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>

namespace orvane::vst {
namespace {

namespace fs = std::filesystem;
using testing::ScopedEnvironment;
using testing::TemporaryFolder;

std::vector<std::string> tagsFor(const std::string &name, const std::string &category,
                                 const std::string &vendor) {
    PluginDescription description;
    description.name = name;
    description.category = category;
    description.vendor = vendor;
    description.tags = {"stale"};
    assignPluginTags(description);
    return description.tags;
}

void writeFile(const fs::path &path, const std::string &text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

std::string readFile(const fs::path &path) {
    std::ifstream file(path);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::vector<std::string> pathsOf(const std::vector<PluginDescription> &descriptions) {
    std::vector<std::string> paths;
    for (const auto &description : descriptions)
        paths.push_back(description.path);
    return paths;
}

TEST(SearchFolders, DefaultsToTheUserAndSystemFoldersInOrder) {
    ScopedEnvironment noOverride("VST3_PATH", std::nullopt);
    ScopedEnvironment home("HOME", "/home/someone");
    EXPECT_EQ(defaultVst3Paths(), (std::vector<std::string>{"/home/someone/.vst3", "/usr/lib/vst3",
                                                            "/usr/local/lib/vst3"}));
}

TEST(SearchFolders, Vst3PathReplacesTheDefaultsAndSkipsEmptyEntries) {
    ScopedEnvironment override("VST3_PATH", "/a/b::/c");
    EXPECT_EQ(defaultVst3Paths(), (std::vector<std::string>{"/a/b", "/c"}));
}

TEST(SearchFolders, WithoutHomeTheUserFolderComesFromTheUserDatabase) {
    ScopedEnvironment noOverride("VST3_PATH", std::nullopt);
    ScopedEnvironment noHome("HOME", std::nullopt);
    std::vector<std::string> paths = defaultVst3Paths();
    ASSERT_EQ(paths.size(), 3u);
    EXPECT_TRUE(fs::path(paths[0]).is_absolute()) << paths[0];
    EXPECT_EQ(fs::path(paths[0]).filename(), ".vst3");
    EXPECT_NE(paths[0].rfind("/tmp", 0), 0u) << "never a shared folder";
}

TEST(SupportFolder, PrefersXdgDataHomeAndCreatesTheFolder) {
    TemporaryFolder temporary;
    ScopedEnvironment dataHome("XDG_DATA_HOME", (temporary.path() / "data").string());
    std::string folder = halvoraSupportDir();
    EXPECT_EQ(folder, (temporary.path() / "data" / "Halvora").string());
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(defaultVstBlacklistPath(), folder + "/vst_blacklist.txt");
    EXPECT_EQ(defaultVstWhitelistPath(), folder + "/vst_whitelist.txt");
    EXPECT_EQ(defaultVstCompatPath(), folder + "/vst_compat.tsv");
}

TEST(SupportFolder, FallsBackToTheHomeFolderDataPath) {
    TemporaryFolder temporary;
    ScopedEnvironment noDataHome("XDG_DATA_HOME", std::nullopt);
    ScopedEnvironment home("HOME", temporary.path().string());
    EXPECT_EQ(halvoraSupportDir(), (temporary.path() / ".local/share/Halvora").string());
    EXPECT_TRUE(fs::is_directory(temporary.path() / ".local/share/Halvora"));
}

TEST(PluginTags, FollowTheKeywordGroupsInTableOrder) {
    EXPECT_EQ(tagsFor("Studio Comp", "Fx|Dynamics", ""), std::vector<std::string>{"Dyn"});
    EXPECT_EQ(tagsFor("Echo Hall", "", ""), (std::vector<std::string>{"Reverb", "Delay"}));
    EXPECT_EQ(tagsFor("Frequency Tool", "", ""), std::vector<std::string>{"EQ"});
    EXPECT_EQ(tagsFor("Gain", "", "Nobody"), std::vector<std::string>{"FX"});
    EXPECT_EQ(tagsFor("PHASER", "", ""), std::vector<std::string>{"Mod"});
    EXPECT_EQ(tagsFor("Keys", "Instrument|Synth", ""), std::vector<std::string>{"Inst"});
    EXPECT_EQ(tagsFor("Plain", "", "Limitless Audio"), std::vector<std::string>{"Dyn"});
}

TEST(Whitelist, SkipsCommentsAndEmptyLinesAndKeepsOtherLinesVerbatim) {
    TemporaryFolder temporary;
    writeFile(temporary.path() / "list.txt", "# comment\n\n Zam \nABCDEF\n");
    EXPECT_EQ(loadVstWhitelist((temporary.path() / "list.txt").string()),
              (std::vector<std::string>{" Zam ", "ABCDEF"}));
    EXPECT_TRUE(loadVstWhitelist((temporary.path() / "missing.txt").string()).empty());
}

TEST(Whitelist, MatchesByExactUidOrCaseInsensitiveSubstring) {
    PluginDescription description;
    description.name = "ZamComp";
    description.uid = "2046504473616C63504D435A00000000";
    description.vendor = "Damien Zammit";
    EXPECT_TRUE(pluginMatchesWhitelist(description, {}));
    EXPECT_TRUE(pluginMatchesWhitelist(description, {"ZAMCOMP"}));
    EXPECT_TRUE(pluginMatchesWhitelist(description, {"", "damien"}));
    EXPECT_TRUE(pluginMatchesWhitelist(description, {description.uid}));
    EXPECT_TRUE(pluginMatchesWhitelist(description, {"504d435a"}));
    EXPECT_FALSE(pluginMatchesWhitelist(description, {"Verb", ""}));
    EXPECT_FALSE(pluginMatchesWhitelist(description, {""}));
}

TEST(Blacklist, KeepsOneEntryPerUidAndRoundTripsThroughItsFile) {
    TemporaryFolder temporary;
    std::string file = (temporary.path() / "blacklist.txt").string();
    PluginScanner scanner;
    scanner.addToBlacklist("A");
    scanner.addToBlacklist("B");
    scanner.addToBlacklist("A");
    scanner.addToBlacklist("a");
    EXPECT_EQ(scanner.blacklist, (std::vector<std::string>{"A", "B", "a"}));
    ASSERT_TRUE(scanner.saveBlacklist(file));
    EXPECT_EQ(readFile(file), "A\nB\na\n");

    writeFile(file, "C\n\nA\n D\n");
    PluginScanner reader;
    reader.addToBlacklist("Z");
    ASSERT_TRUE(reader.loadBlacklist(file));
    EXPECT_EQ(reader.blacklist, (std::vector<std::string>{"Z", "C", "A", " D"}));
    EXPECT_FALSE(reader.loadBlacklist((temporary.path() / "missing").string()));
    EXPECT_EQ(reader.blacklist.size(), 4u);
}

TEST(ScanCache, RoundTripsUidNamePathAndInstrumentFlag) {
    TemporaryFolder temporary;
    std::string file = (temporary.path() / "cache.tsv").string();
    PluginScanner scanner;
    scanner.results = {{"U1", "Synth", "Vendor", "/p/s.vst3", "Instrument", true, false, {"Inst"}},
                       {"U2", "Comp", "Vendor", "/p/c.vst3", "Fx", false, false, {"Dyn"}}};
    ASSERT_TRUE(scanner.saveScanCache(file));
    EXPECT_EQ(readFile(file), "U1\tSynth\t/p/s.vst3\t1\nU2\tComp\t/p/c.vst3\t0\n");

    PluginScanner reader;
    ASSERT_TRUE(reader.loadScanCache(file));
    ASSERT_EQ(reader.results.size(), 2u);
    EXPECT_EQ(reader.results[0].uid, "U1");
    EXPECT_EQ(reader.results[0].name, "Synth");
    EXPECT_EQ(reader.results[0].path, "/p/s.vst3");
    EXPECT_TRUE(reader.results[0].isInstrument);
    EXPECT_FALSE(reader.results[1].isInstrument);
}

TEST(ScanCache, SkipsShortLinesAndTreatsOnlyOneAsInstrument) {
    TemporaryFolder temporary;
    std::string file = (temporary.path() / "cache.tsv").string();
    writeFile(file, "A\tB\tC\nD\tE\tF\tyes\nG\tH\tI\t1\n");
    PluginScanner scanner;
    ASSERT_TRUE(scanner.loadScanCache(file));
    ASSERT_EQ(scanner.results.size(), 2u);
    EXPECT_EQ(scanner.results[0].uid, "D");
    EXPECT_FALSE(scanner.results[0].isInstrument);
    EXPECT_TRUE(scanner.results[1].isInstrument);
}

TEST(ScanCache, UnreadableFileLeavesResultsUnchanged) {
    PluginScanner scanner;
    scanner.results.push_back({"U", "N", "", "/p", "", false, false, {}});
    EXPECT_FALSE(scanner.loadScanCache("/nonexistent/folder/cache.tsv"));
    ASSERT_EQ(scanner.results.size(), 1u);
    EXPECT_EQ(scanner.results[0].uid, "U");
}

TEST(BundleWalk, LinkLoopsEndAndLinkedFoldersAreFoundOnce) {
    TemporaryFolder temporary;
    const fs::path root = temporary.path();
    fs::create_directories(root / "vst3/Real.vst3");
    fs::create_directories(root / "elsewhere/Linked.vst3");
    fs::create_directory_symlink(".", root / "vst3/a");
    fs::create_directory_symlink(".", root / "vst3/b");
    fs::create_directory_symlink("..", root / "vst3/Real.vst3/up");
    fs::create_directory_symlink(root / "elsewhere", root / "vst3/linked");
    PluginScanner scanner;
    scanner.setSearchPaths({(root / "vst3").string()});
    std::vector<std::string> names;
    for (const std::string &path : pathsOf(scanner.scan()))
        names.push_back(fs::path(path).filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Linked.vst3", "Real.vst3"}));
}

TEST(BundleWalk, FindsLowercaseBundlesRecursivelyIncludingNestedOnes) {
    TemporaryFolder temporary;
    fs::path root = temporary.path();
    fs::create_directories(root / "a/One.vst3/Contents/Inner.vst3");
    fs::create_directories(root / "b/Upper.VST3");
    fs::create_directories(root / "b/deep/Two.vst3");
    writeFile(root / "b/NotABundle.vst3.txt", "");
    PluginScanner scanner;
    scanner.setSearchPaths(
        {(root / "a").string(), (root / "missing").string(), (root / "b").string()});
    std::vector<ScanProgress> progress;
    auto found = scanner.scan([&progress](const ScanProgress &step) { progress.push_back(step); });

    std::vector<std::string> paths = pathsOf(found);
    std::vector<std::string> expected = {(root / "a/One.vst3").string(),
                                         (root / "a/One.vst3/Contents/Inner.vst3").string(),
                                         (root / "b/deep/Two.vst3").string()};
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, expected);
    ASSERT_EQ(progress.size(), 3u);
    EXPECT_EQ(progress[0].current, 1);
    EXPECT_EQ(progress[2].current, 3);
    EXPECT_EQ(progress[2].total, 3);
    for (const auto &description : found) {
        EXPECT_EQ(description.uid, description.path);
        EXPECT_EQ(description.vendor, "Unknown");
        EXPECT_TRUE(description.category.empty());
        EXPECT_EQ(description.name, fs::path(description.path).stem().string());
        EXPECT_FALSE(description.tags.empty());
    }
}

TEST(BundleWalk, DropsBundlesWhosePathIsBlacklisted) {
    TemporaryFolder temporary;
    fs::create_directories(temporary.path() / "Keep.vst3");
    fs::create_directories(temporary.path() / "Drop.vst3");
    PluginScanner scanner;
    scanner.setSearchPaths({temporary.path().string()});
    scanner.addToBlacklist((temporary.path() / "Drop.vst3").string());
    auto found = scanner.scan();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].name, "Keep");
}

TEST(BundleWalk, UsesVst3PathWhenNoFoldersAreSet) {
    TemporaryFolder temporary;
    fs::create_directories(temporary.path() / "Found.vst3");
    ScopedEnvironment override("VST3_PATH", temporary.path().string());
    PluginScanner scanner;
    auto found = scanner.scan();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].name, "Found");
    EXPECT_EQ(scanner.searchPaths, std::vector<std::string>{temporary.path().string()});
}

// Expected from the zam-plugins package itself: every bundle's audio class has the bundle's
// name, its vendor, and these sub-categories.
const std::map<std::string, std::string> zamCategories = {{"ZaMaximX2", "Fx|Dynamics|Stereo"},
                                                          {"ZaMultiComp", "Fx|Dynamics|Mono"},
                                                          {"ZaMultiCompX2", "Fx|Dynamics|Stereo"},
                                                          {"ZamAutoSat", "Fx|Dynamics|Mono"},
                                                          {"ZamComp", "Fx|Dynamics|Mono"},
                                                          {"ZamCompX2", "Fx|Dynamics|Stereo"},
                                                          {"ZamDelay", "Fx|Delay|Mono"},
                                                          {"ZamDynamicEQ", "Fx|EQ|Mono"},
                                                          {"ZamEQ2", "Fx|EQ|Mono"},
                                                          {"ZamGEQ31", "Fx|EQ|Mono"},
                                                          {"ZamGate", "Fx|Dynamics|Mono"},
                                                          {"ZamGateX2", "Fx|Dynamics|Stereo"},
                                                          {"ZamGrains", "Fx|Delay|Mono"},
                                                          {"ZamHeadX2", "Fx|EQ|Stereo"},
                                                          {"ZamPhono", "Fx|Tools|Mono"},
                                                          {"ZamTube", "Fx|Distortion|Mono"},
                                                          {"ZamVerb", "Fx|Reverb|Stereo"}};

TEST(ZamScan, BundleWalkThroughVst3PathFindsEveryZamBundle) {
    ASSERT_TRUE(testing::zamPluginsInstalled());
    ScopedEnvironment override("VST3_PATH", testing::zamDir());
    PluginScanner scanner;
    auto found = scanner.scan();
    std::vector<std::string> names;
    for (const auto &description : found)
        names.push_back(description.name);
    for (const auto &[name, category] : zamCategories)
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
}

TEST(ZamScan, FactoryPassDescribesEveryAudioClassWithUidNameCategoryAndTags) {
    ASSERT_TRUE(testing::zamPluginsInstalled());
    testing::ThirdPartyLeaksIgnored zamLeaks;
    ScopedEnvironment override("VST3_PATH", testing::zamDir());
    PluginScanner scanner;
    auto found = scanner.scanWithFactory();
    std::map<std::string, PluginDescription> byName;
    for (const auto &description : found)
        byName[description.name] = description;
    for (const auto &[name, category] : zamCategories) {
        ASSERT_EQ(byName.count(name), 1u) << name;
        const PluginDescription &description = byName[name];
        EXPECT_EQ(description.path, testing::zamBundle(name));
        EXPECT_EQ(description.vendor, "Damien Zammit");
        EXPECT_EQ(description.category, category);
        EXPECT_FALSE(description.isInstrument);
        ASSERT_EQ(description.uid.size(), 32u);
        EXPECT_TRUE(std::all_of(description.uid.begin(), description.uid.end(), [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
        })) << description.uid;
    }
    EXPECT_EQ(byName["ZamComp"].tags, std::vector<std::string>{"Dyn"});
    EXPECT_EQ(byName["ZamVerb"].tags, std::vector<std::string>{"Reverb"});
    EXPECT_EQ(byName["ZamDelay"].tags, std::vector<std::string>{"Delay"});
    EXPECT_EQ(byName["ZamEQ2"].tags, std::vector<std::string>{"EQ"});
    EXPECT_EQ(byName["ZamDynamicEQ"].tags, (std::vector<std::string>{"EQ", "Dyn"}));
    EXPECT_EQ(byName["ZamTube"].tags, std::vector<std::string>{"FX"});
}

TEST(ZamScan, FactoryPassDropsBlacklistedClassIds) {
    ASSERT_TRUE(testing::zamPluginsInstalled());
    testing::ThirdPartyLeaksIgnored zamLeaks;
    PluginScanner scanner;
    scanner.setSearchPaths({testing::zamDir()});
    auto all = scanner.scanWithFactory();
    auto comp = std::find_if(all.begin(), all.end(), [](auto &d) { return d.name == "ZamComp"; });
    ASSERT_NE(comp, all.end());
    scanner.addToBlacklist(comp->uid);
    auto filtered = scanner.scanWithFactory();
    EXPECT_EQ(filtered.size(), all.size() - 1);
    EXPECT_TRUE(std::none_of(filtered.begin(), filtered.end(),
                             [](auto &d) { return d.name == "ZamComp"; }));
}

TEST(TestBundleScan, FactoryPassSeesTheTestInstrumentAsAnInstrument) {
    PluginScanner scanner;
    scanner.setSearchPaths({testing::testBundlesDir()});
    auto found = scanner.scanWithFactory();
    ASSERT_EQ(found.size(), 2u);
    auto instrument = std::find_if(found.begin(), found.end(),
                                   [](auto &d) { return d.name == "Halvora Test Instrument"; });
    ASSERT_NE(instrument, found.end());
    EXPECT_TRUE(instrument->isInstrument);
    EXPECT_EQ(instrument->vendor, "Halvora Tests");
    EXPECT_EQ(instrument->uid, "48564C54455354494E535452554D4E54");
    EXPECT_EQ(instrument->tags, std::vector<std::string>{"Inst"});
}

TEST(TestBundleScan, BundleThatCannotBeLoadedGivesNoDescription) {
    TemporaryFolder temporary;
    writeFile(temporary.path() / "Broken.vst3/Contents/x86_64-linux/Broken.so", "not a library");
    PluginScanner scanner;
    scanner.setSearchPaths({temporary.path().string()});
    EXPECT_EQ(scanner.scan().size(), 1u);
    EXPECT_TRUE(scanner.scanWithFactory().empty());
}

} // namespace
} // namespace orvane::vst
