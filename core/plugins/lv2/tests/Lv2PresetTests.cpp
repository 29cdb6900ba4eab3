#include "core/plugins/lv2/Lv2Plugin.h"
#include "core/plugins/lv2/Lv2Presets.h"
#include "core/plugins/lv2/tests/Lv2TestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>

namespace orvane::lv2 {
namespace {

using namespace testing;
namespace fs = std::filesystem;

/// What a command prints, or empty when it could not be run.
std::string outputOf(const std::string &command) {
    std::string text;
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return text;
    std::array<char, 4096> buffer{};
    while (fgets(buffer.data(), static_cast<int>(buffer.size()), pipe))
        text += buffer.data();
    pclose(pipe);
    return text;
}

/// The preset labels `lv2file -L` gives for a plug-in: an independent reading of the data.
std::multiset<std::string> lv2fileLabels(const std::string &uri) {
    std::multiset<std::string> labels;
    const std::string listed = outputOf("lv2file -L '" + uri + "' 2>/dev/null");
    std::size_t start = 0;
    while (start < listed.size()) {
        std::size_t end = listed.find('\n', start);
        if (end == std::string::npos) end = listed.size();
        const std::string line = listed.substr(start, end - start);
        if (line.starts_with("Preset: ")) labels.insert(line.substr(8));
        start = end + 1;
    }
    return labels;
}

TEST(Lv2Presets, FactoryPresetsAreThoseAnIndependentHostFinds) {
    for (const char *uri : {calfFilter, calfReverb, calfMonosynth, x42Equalizer}) {
        SCOPED_TRACE(uri);
        std::vector<Lv2FactoryPreset> presets;
        std::string error;
        ASSERT_TRUE(listLv2FactoryPresets(uri, presets, error)) << error;
        std::multiset<std::string> ours;
        for (const Lv2FactoryPreset &preset : presets) {
            EXPECT_FALSE(preset.uri.empty()) << preset.name;
            ours.insert(preset.name);
        }
        EXPECT_EQ(ours, lv2fileLabels(uri));
    }
    std::vector<Lv2FactoryPreset> presets;
    std::string error;
    EXPECT_FALSE(listLv2FactoryPresets("urn:halvora:no-such-plugin", presets, error));
    EXPECT_NE(error.find("urn:halvora:no-such-plugin"), std::string::npos) << error;
}

std::string presetUriNamed(const std::string &pluginUri, const std::string &name) {
    std::vector<Lv2FactoryPreset> presets;
    std::string error;
    EXPECT_TRUE(listLv2FactoryPresets(pluginUri, presets, error)) << error;
    for (const Lv2FactoryPreset &preset : presets)
        if (preset.name == name) return preset.uri;
    ADD_FAILURE() << "no preset " << name;
    return {};
}

// lv2file loads the same preset on its own; the same input in the same blocks must come out
// the same, within one step of 24-bit audio, and differ from the plug-in's defaults.
TEST(Lv2Presets, AFactoryPresetSoundsAsAnIndependentHostPlaysIt) {
    const StereoSignal input = testSignal(48000);
    const std::pair<const char *, const char *> cases[] = {{calfFilter, "Disco"},
                                                           {calfReverb, "Large Empty Hall"}};
    for (const auto &[uri, name] : cases) {
        SCOPED_TRACE(name);
        std::vector<uint8_t> state;
        std::string error;
        ASSERT_TRUE(lv2FactoryPresetState(uri, presetUriNamed(uri, name), state, error)) << error;
        Lv2Plugin plugin, plain;
        ASSERT_TRUE(plugin.load(uri) && plain.load(uri)) << plugin.lastError;
        ASSERT_TRUE(plugin.prepare(sampleRate, blockSize) && plain.prepare(sampleRate, blockSize));
        ASSERT_TRUE(plugin.setState(state)) << plugin.lastError;
        const StereoSignal ours = renderThrough(plugin, input);
        const StereoSignal theirs = renderWithLv2file(uri, {}, input, name);
        ASSERT_EQ(theirs.frames(), input.frames());
        EXPECT_LE(largestDifference(ours, theirs), 1.0f / 8388608.0f);
        EXPECT_GT(largestDifference(ours, renderThrough(plain, input)), 0.01f)
            << "the preset sounds like the defaults";
    }
}

TEST(Lv2Presets, APresetThatIsNotTheirsIsRefused) {
    std::vector<uint8_t> state{'x'};
    std::string error;
    EXPECT_FALSE(
        lv2FactoryPresetState(calfFilter, presetUriNamed(calfReverb, "Room"), state, error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(state, std::vector<uint8_t>{'x'});
}

/// The state of a Calf Filter with its controls set away from the defaults.
std::vector<uint8_t> filterState(float frequency) {
    Lv2Plugin plugin;
    EXPECT_TRUE(plugin.load(calfFilter)) << plugin.lastError;
    EXPECT_TRUE(plugin.prepare(sampleRate, blockSize)) << plugin.lastError;
    setControls(plugin, {{"freq", frequency}, {"res", 2.5f}, {"mode", 3.0f}});
    std::vector<uint8_t> state;
    EXPECT_TRUE(plugin.getState(state)) << plugin.lastError;
    return state;
}

std::vector<float> controlValuesAfter(const std::vector<uint8_t> &state) {
    Lv2Plugin plugin;
    EXPECT_TRUE(plugin.load(calfFilter));
    EXPECT_TRUE(plugin.prepare(sampleRate, blockSize));
    EXPECT_TRUE(plugin.setState(state)) << plugin.lastError;
    std::vector<float> values;
    for (size_t index = 0; index < plugin.parameters.size(); ++index)
        values.push_back(plugin.parameterValue(index));
    return values;
}

TEST(Lv2Presets, AUserPresetBundleReadsBackAsSavedAndIsOneOtherHostsFind) {
    ScratchFolder scratch;
    const std::vector<uint8_t> saved = filterState(1234.0f);
    const std::string bundle = (scratch.path / "Тёплый.preset.lv2").string();
    std::string error;
    ASSERT_TRUE(writeLv2PresetBundle(calfFilter, "Тёплый фильтр", saved, bundle, error)) << error;
    std::string name;
    std::vector<uint8_t> state;
    ASSERT_TRUE(readLv2PresetBundle(calfFilter, bundle, name, state, error)) << error;
    EXPECT_EQ(name, "Тёплый фильтр");
    const std::vector<float> values = controlValuesAfter(state);
    EXPECT_EQ(values, controlValuesAfter(saved));
    EXPECT_NE(values, controlValuesAfter({}));
    // The bundle is an LV2 preset like any other: lv2info, pointed at it, lists it.
    const std::string listed =
        outputOf("LV2_PATH='" + scratch.path.string() + ":/usr/lib/lv2' lv2info '" +
                 std::string(calfFilter) + "' 2>/dev/null");
    EXPECT_NE(listed.find("Тёплый фильтр"), std::string::npos) << listed;
}

TEST(Lv2Presets, SavingOverAPresetReplacesItAndLeavesNoScratch) {
    ScratchFolder scratch;
    const std::string bundle = (scratch.path / "Same.preset.lv2").string();
    std::string error, name;
    ASSERT_TRUE(writeLv2PresetBundle(calfFilter, "Same", filterState(500.0f), bundle, error));
    const std::vector<uint8_t> second = filterState(9000.0f);
    ASSERT_TRUE(writeLv2PresetBundle(calfFilter, "Same", second, bundle, error)) << error;
    std::vector<uint8_t> state;
    ASSERT_TRUE(readLv2PresetBundle(calfFilter, bundle, name, state, error)) << error;
    EXPECT_EQ(controlValuesAfter(state), controlValuesAfter(second));
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch.path), fs::directory_iterator()), 1);
    // A state that cannot be read writes nothing and keeps the preset there.
    EXPECT_FALSE(writeLv2PresetBundle(calfFilter, "Same", {'n', 'o'}, bundle, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(writeLv2PresetBundle(calfReverb, "Same", second, bundle, error));
    ASSERT_TRUE(readLv2PresetBundle(calfFilter, bundle, name, state, error)) << error;
    EXPECT_EQ(controlValuesAfter(state), controlValuesAfter(second));
}

std::string fileText(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path &path, const std::string &text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

/// The text with the first port's value replaced by `value`.
std::string withFirstPortValue(std::string text, const std::string &value) {
    const auto at = text.find("pset:value ", text.find("lv2:port"));
    const auto start = at + std::string("pset:value ").size();
    const auto end = text.find_first_of(";]\n", start);
    return text.replace(start, end - start, value);
}

TEST(Lv2Presets, DamagedBundlesAreRefusedWithAReasonAndChangeNothing) {
    ScratchFolder scratch;
    const std::vector<uint8_t> saved = filterState(700.0f);
    std::string error;
    const fs::path good = scratch.path / "good.preset.lv2";
    ASSERT_TRUE(writeLv2PresetBundle(calfFilter, "Good", saved, good.string(), error)) << error;
    const std::string text = fileText(good / lv2PresetFileName);
    struct Damage {
        const char *name;
        std::function<void(const fs::path &file)> apply;
    };
    const Damage damages[] = {
        {"cutInHalf",
         [&](const fs::path &file) { writeFile(file, text.substr(0, text.size() / 2)); }},
        {"lastCharactersCut",
         [&](const fs::path &file) { writeFile(file, text.substr(0, text.size() - 3)); }},
        {"empty", [](const fs::path &file) { writeFile(file, ""); }},
        {"binary",
         [](const fs::path &file) {
             writeFile(file, std::string("\x7f"
                                         "ELF\0\1\2",
                                         7));
         }},
        {"zeroInside",
         [&](const fs::path &file) { writeFile(file, text + std::string(1, '\0') + "x"); }},
        {"noLabel",
         [&](const fs::path &file) {
             std::string unlabelled = text;
             const auto at = unlabelled.find("rdfs:label");
             unlabelled.erase(at, unlabelled.find(';', at) + 1 - at);
             writeFile(file, unlabelled);
         }},
        {"otherPlugin",
         [&](const fs::path &file) {
             std::string other = text;
             const auto at = other.find(calfFilter);
             other.replace(at, std::string(calfFilter).size(), calfReverb);
             writeFile(file, other);
         }},
        {"missing", [](const fs::path &file) { fs::remove(file); }},
        // Found by the fuzzer: lilv crashes on a port whose value is a list.
        {"valueIsAList",
         [&](const fs::path &file) { writeFile(file, withFirstPortValue(text, "( ( 0.5 ) )")); }},
        {"valueIsANode",
         [&](const fs::path &file) { writeFile(file, withFirstPortValue(text, "<urn:v>")); }},
        {"symbolIsANode",
         [&](const fs::path &file) {
             std::string odd = text;
             const auto at = odd.find("lv2:symbol \"");
             odd.replace(odd.find('"', at),
                         odd.find('"', odd.find('"', at) + 1) - odd.find('"', at) + 1, "<urn:s>");
             writeFile(file, odd);
         }},
        {"portWithoutSymbol",
         [&](const fs::path &file) {
             std::string odd = text;
             const auto at = odd.find("lv2:symbol");
             odd.replace(at, std::string("lv2:symbol").size(), "rdfs:comment");
             writeFile(file, odd);
         }},
        {"portUnderAnUnknownPrefix",
         [&](const fs::path &file) {
             std::string odd = text;
             odd.replace(odd.find("lv2:port"), std::string("lv2:port").size(), "lv4:port");
             writeFile(file, odd + "\n" + text);
         }},
        {"portIsALiteral",
         [&](const fs::path &file) {
             std::string odd = text;
             odd.replace(odd.find("lv2:port"), std::string("lv2:port").size(), "lv2:port \"p\" , ");
             writeFile(file, odd);
         }},
    };
    for (const Damage &damage : damages) {
        SCOPED_TRACE(damage.name);
        const fs::path bundle = scratch.path / (std::string(damage.name) + ".preset.lv2");
        fs::copy(good, bundle);
        damage.apply(bundle / lv2PresetFileName);
        std::string name = "unchanged";
        std::vector<uint8_t> state{'u'};
        error.clear();
        EXPECT_FALSE(readLv2PresetBundle(calfFilter, bundle.string(), name, state, error));
        EXPECT_NE(error.find(bundle.string()), std::string::npos) << error;
        EXPECT_EQ(name, "unchanged");
        EXPECT_EQ(state, std::vector<uint8_t>{'u'});
    }
}

// Found by the fuzzer: lilv crashes on Turtle that describes no preset, whether it comes as a
// preset file or as a project's saved state.
TEST(Lv2Presets, TurtleWithoutAPresetIsRefusedBeforeLilvSeesIt) {
    const char *texts[] = {"<urn:a> a <http://x> .", "<urn:a> <http://y> \"A\" .",
                           "<http://a> <http://lv2plug.in/ns/lv2core#appliesTo> <http://b> .",
                           "@prefix pset: <urn:not-presets#> . <urn:a> a pset:Preset .",
                           // A relative IRI, which a state read from text cannot resolve (lilv
                           // crashed on this one).
                           "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
                           "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
                           "<urn:a> a pset:Presbt ; rdfs:seeAlso <httug> .\n"
                           "<urn:a> a pset:Preset ; rdfs:label \"x\" ."};
    for (const char *text : texts) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(lv2StateTextReadable(text));
        std::string name = "kept", error;
        std::vector<uint8_t> state{'k'};
        EXPECT_FALSE(readLv2PresetText(calfFilter, text, "given", name, state, error));
        EXPECT_NE(error.find("given"), std::string::npos) << error;
        EXPECT_EQ(name, "kept");
        Lv2Plugin plugin;
        ASSERT_TRUE(plugin.load(calfFilter));
        EXPECT_FALSE(plugin.setState({text, text + std::strlen(text)}));
        EXPECT_FALSE(plugin.lastError.empty());
    }
    // Nesting deep enough to exhaust the reader's memory is refused before it is read.
    EXPECT_FALSE(lv2StateTextReadable("<urn:a> a <http://lv2plug.in/ns/ext/presets#Preset> ;"
                                      " <urn:p> " +
                                      std::string(100000, '(') + " ."));
    // What the host itself saves is readable.
    const std::vector<uint8_t> saved = filterState(640.0f);
    EXPECT_TRUE(lv2StateTextReadable({saved.begin(), saved.end()}));
}

} // namespace
} // namespace orvane::lv2
