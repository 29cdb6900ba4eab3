#pragma once

#include "app/shell/ApplicationUi.h"
#include "tests/support/ScopedTestState.h"

#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvane::testing {

/// Where a test's plug-ins run: in this process, where the tests can reach into them, or where
/// a user's run by default (each in a helper).
enum class PluginIsolation { Off, AsShipped };

/// A private home for one test: HOME and the XDG folders point into a fresh scratch folder,
/// JACK clients find no server and start none (so audio runs on the null device unless the
/// settings name another), and nothing of the real user's is read or written.
class TemporaryHome {
  public:
    explicit TemporaryHome(const std::string &label,
                           PluginIsolation isolation = PluginIsolation::Off);
    ~TemporaryHome();
    TemporaryHome(const TemporaryHome &) = delete;
    TemporaryHome &operator=(const TemporaryHome &) = delete;
    const std::filesystem::path &root() const { return folder; }
    /// Stores the device choice the application reads at start-up.
    void rememberOutputDevice(const std::string &name) const;

  private:
    std::filesystem::path folder;
    std::vector<std::unique_ptr<ScopedEnvironment>> variables;
};

struct ShownAlert {
    std::string title;
    std::string text;
    std::vector<std::string> buttons;
};

/// Answers the application's questions from scripted queues and records what it showed. An
/// alert or chooser the script did not expect fails the test.
class ScriptedUi final : public ApplicationUi {
  public:
    std::deque<std::string> alertAnswers; // the button to press, by its text
    std::deque<std::optional<std::string>> saveLocations;
    std::deque<std::vector<std::string>> filesToOpen;
    std::deque<std::optional<std::string>> folders;

    std::vector<ShownAlert> alerts;
    std::vector<std::string> statuses;
    std::vector<std::string> offeredSaveNames;
    /// The file types the last open chooser offered.
    std::vector<std::string> offeredTypes;

    int runAlert(const std::string &title, const std::string &text,
                 const std::vector<std::string> &buttons) override;
    std::optional<std::string> chooseSaveLocation(const std::string &type,
                                                  const std::string &defaultName) override;
    std::vector<std::string> chooseFilesToOpen(const std::string &prompt,
                                               const std::vector<std::string> &types,
                                               bool allowMultiple) override;
    std::optional<std::string> chooseFolder(const std::string &prompt) override;
    void showStatus(const std::string &text) override { statuses.push_back(text); }

    std::string lastStatus() const { return statuses.empty() ? std::string() : statuses.back(); }
    bool showedStatus(const std::string &text) const;
    /// True when every scripted answer was used.
    bool scriptUsedUp() const;
};

/// The whole file, empty when it cannot be read.
std::string readTextFile(const std::filesystem::path &path);
/// Writes `text` as the whole file, making its folder first.
void writeTextFile(const std::filesystem::path &path, const std::string &text);

/// Every line of every log file below `folder` that is not valid JSON ("name:line: text");
/// empty when all parse.
std::vector<std::string> invalidLogLines(const std::filesystem::path &folder);

} // namespace orvane::testing
