#include "core/plugins/vst3/PluginScanner.h"

#include "core/plugins/vst3/hosting/Module.h"

#include <pluginterfaces/vst/ivstaudioprocessor.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace orvane::vst {
namespace {

namespace fs = std::filesystem;

std::string environment(const char *name) {
    const char *value = std::getenv(name);
    return value ? value : "";
}

// With HOME unset the user database names the home folder; never a shared folder such as /tmp,
// which another user could have prepared.
std::string homeFolder() {
    std::string home = environment("HOME");
    if (!home.empty()) return home;
    if (const passwd *entry = getpwuid(getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return {};
}

std::string asciiLower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return text;
}

bool containsAny(const std::string &text, std::initializer_list<const char *> keywords) {
    return std::any_of(keywords.begin(), keywords.end(), [&text](const char *keyword) {
        return text.find(keyword) != std::string::npos;
    });
}

std::vector<std::string> splitColonList(const std::string &text) {
    std::vector<std::string> parts;
    std::stringstream stream(text);
    std::string part;
    while (std::getline(stream, part, ':'))
        if (!part.empty()) parts.push_back(part);
    return parts;
}

/// A folder's identity, the same through every link that leads to it.
struct FolderIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator<(const FolderIdentity &other) const {
        return device != other.device ? device < other.device : inode < other.inode;
    }
};

bool identify(const fs::path &folder, FolderIdentity &identity) {
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return false;
    identity = {status.st_dev, status.st_ino};
    return true;
}

// Links to folders are followed (plug-ins are often installed as links), but every folder is
// entered once: links that lead back up would otherwise make the walk endless. Walk errors end that
// folder's walk; what was found until then is kept.
void collectBundles(const std::string &folder, std::vector<std::string> &bundles) {
    std::error_code error;
    std::set<FolderIdentity> entered;
    FolderIdentity top;
    if (!identify(folder, top)) return;
    entered.insert(top);
    fs::recursive_directory_iterator walk(folder, fs::directory_options::follow_directory_symlink,
                                          error);
    for (fs::recursive_directory_iterator end; !error && walk != end; walk.increment(error)) {
        if (walk->path().extension() == ".vst3") bundles.push_back(walk->path().string());
        FolderIdentity identity;
        if (identify(walk->path(), identity) && !entered.insert(identity).second)
            walk.disable_recursion_pending();
    }
}

// The newest modification time of the bundle and anything inside it; the newest possible time
// when it cannot be read, so that the bundle is looked at again.
fs::file_time_type lastChangeOf(const std::string &bundle) {
    std::error_code error;
    fs::file_time_type newest = fs::last_write_time(bundle, error);
    if (error) return fs::file_time_type::max();
    fs::recursive_directory_iterator walk(bundle, error);
    for (fs::recursive_directory_iterator end; !error && walk != end; walk.increment(error)) {
        std::error_code entryError;
        fs::file_time_type changed = walk->last_write_time(entryError);
        if (entryError) return fs::file_time_type::max();
        newest = std::max(newest, changed);
    }
    return newest;
}

PluginDescription describeClass(const std::string &bundle, const ClassInfo &info) {
    PluginDescription description;
    description.path = bundle;
    description.name = info.name;
    description.vendor = info.vendor;
    description.uid = tuidToHex(info.id);
    description.category = info.subCategories;
    description.isInstrument = description.category.find("Instrument") != std::string::npos;
    return description;
}

} // namespace

std::vector<std::string> splitTabs(const std::string &line) {
    std::vector<std::string> fields;
    size_t start = 0;
    while (true) {
        size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    return fields;
}

std::string tuidToHex(const std::array<uint8_t, 16> &id) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(32);
    for (uint8_t byte : id) {
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
    }
    return text;
}

std::vector<std::string> defaultVst3Paths() {
    if (const char *override = std::getenv("VST3_PATH")) return splitColonList(override);
    std::vector<std::string> paths;
    if (std::string home = homeFolder(); !home.empty())
        paths.push_back((fs::path(home) / ".vst3").string());
    paths.push_back("/usr/lib/vst3");
    paths.push_back("/usr/local/lib/vst3");
    return paths;
}

std::string userDataHome() {
    if (std::string dataHome = environment("XDG_DATA_HOME"); !dataHome.empty()) return dataHome;
    return (fs::path(homeFolder()) / ".local" / "share").string();
}

std::string halvoraSupportDir() {
    fs::path folder = fs::path(userDataHome()) / "Halvora";
    std::error_code ignored;
    fs::create_directories(folder, ignored);
    return folder.string();
}

std::string defaultVstCompatPath() {
    return (fs::path(halvoraSupportDir()) / "vst_compat.tsv").string();
}

std::string defaultVstBlacklistPath() {
    return (fs::path(halvoraSupportDir()) / "vst_blacklist.txt").string();
}

std::string defaultVstWhitelistPath() {
    return (fs::path(halvoraSupportDir()) / "vst_whitelist.txt").string();
}

std::string defaultVstScanCachePath() {
    return (fs::path(halvoraSupportDir()) / "vst_scan_cache.tsv").string();
}

std::vector<std::string> loadVstWhitelist(const std::string &path) {
    std::vector<std::string> patterns;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#') continue;
        patterns.push_back(line);
    }
    return patterns;
}

bool pluginMatchesWhitelist(const PluginDescription &description,
                            const std::vector<std::string> &patterns) {
    if (patterns.empty()) return true;
    std::string text =
        asciiLower(description.name + " " + description.uid + " " + description.vendor);
    for (const std::string &pattern : patterns) {
        if (pattern.empty()) continue;
        if (description.uid == pattern) return true;
        if (text.find(asciiLower(pattern)) != std::string::npos) return true;
    }
    return false;
}

void assignPluginTags(PluginDescription &description) {
    description.tags.clear();
    std::string text =
        asciiLower(description.name + " " + description.category + " " + description.vendor);
    if (containsAny(text, {"eq", "equal", "filter", "shelf"})) description.tags.push_back("EQ");
    if (containsAny(text, {"comp", "limit", "gate", "dynam"})) description.tags.push_back("Dyn");
    if (containsAny(text, {"reverb", "room", "hall"})) description.tags.push_back("Reverb");
    if (containsAny(text, {"delay", "echo"})) description.tags.push_back("Delay");
    if (containsAny(text, {"chorus", "flang", "phase"})) description.tags.push_back("Mod");
    if (containsAny(text, {"synth", "piano", "instrument"})) description.tags.push_back("Inst");
    if (description.tags.empty()) description.tags.push_back("FX");
}

void PluginScanner::setSearchPaths(std::vector<std::string> paths) {
    searchPaths = std::move(paths);
}

void PluginScanner::setBlacklist(std::vector<std::string> uids) { blacklist = std::move(uids); }

void PluginScanner::addToBlacklist(const std::string &uid) {
    if (!isBlacklisted(uid)) blacklist.push_back(uid);
}

bool PluginScanner::isBlacklisted(const std::string &uid) const {
    return std::find(blacklist.begin(), blacklist.end(), uid) != blacklist.end();
}

bool PluginScanner::saveBlacklist(const std::string &path) const {
    std::ofstream file(path, std::ios::trunc);
    if (!file) return false;
    for (const std::string &uid : blacklist)
        file << uid << '\n';
    return static_cast<bool>(file);
}

bool PluginScanner::loadBlacklist(const std::string &path) {
    std::ifstream file(path);
    if (!file) return false;
    std::string line;
    while (std::getline(file, line))
        if (!line.empty()) addToBlacklist(line);
    return true;
}

std::vector<PluginDescription> PluginScanner::scan(const ScanProgressCallback &progress) {
    results.clear();
    if (searchPaths.empty()) searchPaths = defaultVst3Paths();
    std::vector<std::string> bundles;
    for (const std::string &folder : searchPaths)
        collectBundles(folder, bundles);
    int current = 0;
    for (const std::string &bundle : bundles) {
        ++current;
        if (progress) progress({current, static_cast<int>(bundles.size()), bundle});
        PluginDescription description;
        description.path = bundle;
        description.uid = bundle;
        description.name = fs::path(bundle).stem().string();
        description.vendor = "Unknown";
        if (isBlacklisted(description.uid)) continue;
        assignPluginTags(description);
        results.push_back(std::move(description));
    }
    return results;
}

std::optional<std::vector<PluginDescription>> describeBundleClasses(const std::string &bundle) {
    std::string ignoredError;
    std::shared_ptr<Module> module = Module::create(bundle, ignoredError);
    if (!module) return std::nullopt;
    std::vector<PluginDescription> classes;
    for (const ClassInfo &info : module->getFactory().classInfos())
        if (info.category == kVstAudioEffectClass) classes.push_back(describeClass(bundle, info));
    return classes;
}

BundleClasses describeBundleInProcess(const std::string &bundle) {
    BundleClasses found;
    if (auto classes = describeBundleClasses(bundle)) {
        found.outcome = BundleClasses::described;
        found.classes = std::move(*classes);
    }
    return found;
}

std::vector<PluginDescription>
PluginScanner::scanWithFactory(const ScanProgressCallback &progress) {
    return scanWithDescriber(describeBundleInProcess, {}, progress);
}

std::vector<PluginDescription>
PluginScanner::scanWithDescriber(const BundleDescriber &describe, const std::string &cachePath,
                                 const ScanProgressCallback &progress) {
    std::vector<std::string> bundles;
    for (const PluginDescription &bundle : scan(progress))
        bundles.push_back(bundle.path);
    describeBundles(bundles, describe, cachePath);
    if (!cachePath.empty()) (void)saveScanCache(cachePath); // unsaved: described again next time
    return results;
}

std::vector<PluginDescription>
PluginScanner::describeBundles(const std::vector<std::string> &bundles,
                               const BundleDescriber &describe, const std::string &cachePath) {
    std::vector<PluginDescription> cached = cachedDescriptions(cachePath);
    results.clear();
    crashedBundles.clear();
    for (const std::string &bundle : bundles) {
        if (isBlacklisted(bundle)) continue;
        std::vector<PluginDescription> classes;
        for (const PluginDescription &entry : cached)
            if (entry.path == bundle) classes.push_back(entry);
        if (classes.empty()) {
            BundleClasses found = describe(bundle);
            if (found.outcome == BundleClasses::crashed) {
                crashedBundles.push_back(bundle);
                addToBlacklist(bundle);
                continue;
            }
            classes = std::move(found.classes);
        }
        for (PluginDescription &description : classes) {
            description.path = bundle;
            if (isBlacklisted(description.uid)) continue;
            assignPluginTags(description);
            results.push_back(std::move(description));
        }
    }
    return results;
}

// The cache's entries for bundles that have not changed since it was written; none without
// a cache. A scanner-local copy, so that `results` is not disturbed.
std::vector<PluginDescription> PluginScanner::cachedDescriptions(const std::string &cachePath) {
    std::vector<PluginDescription> kept;
    std::error_code error;
    if (cachePath.empty()) return kept;
    auto written = fs::last_write_time(cachePath, error);
    if (error) return kept;
    PluginScanner reader;
    if (!reader.loadScanCache(cachePath)) return kept;
    for (PluginDescription &description : reader.results)
        if (lastChangeOf(description.path) < written) kept.push_back(std::move(description));
    return kept;
}

bool PluginScanner::saveScanCache(const std::string &path) const {
    std::ofstream file(path, std::ios::trunc);
    if (!file) return false;
    for (const PluginDescription &description : results) {
        file << description.uid << '\t' << description.name << '\t' << description.path << '\t'
             << (description.isInstrument ? "1" : "0") << '\n';
    }
    return static_cast<bool>(file);
}

bool PluginScanner::loadScanCache(const std::string &path) {
    std::ifstream file(path);
    if (!file) return false;
    results.clear();
    std::string line;
    while (std::getline(file, line)) {
        std::vector<std::string> fields = splitTabs(line);
        if (fields.size() < 4) continue;
        PluginDescription description;
        description.uid = fields[0];
        description.name = fields[1];
        description.path = fields[2];
        description.isInstrument = fields[3] == "1";
        results.push_back(std::move(description));
    }
    return true;
}

} // namespace orvane::vst
