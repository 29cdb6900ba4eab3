#pragma once

#include <optional>
#include <string>
#include <vector>

namespace orvane {

/// What the document operations need of a user interface: alerts, file choosers and the
/// status line. The window implements it with its toolkit; the headless program answers
/// from standard input, and tests script the answers.
class ApplicationUi {
  public:
    virtual ~ApplicationUi() = default;

    /// Shows an alert and returns the index of the button chosen (buttons in the order
    /// given, the first being the default), or -1 when it was dismissed.
    virtual int runAlert(const std::string &title, const std::string &text,
                         const std::vector<std::string> &buttons) = 0;
    /// A location to save to, offered with `defaultName`; none when cancelled.
    virtual std::optional<std::string> chooseSaveLocation(const std::string &type,
                                                          const std::string &defaultName) = 0;
    /// Existing files (or project folders) of the given types; empty when cancelled.
    virtual std::vector<std::string> chooseFilesToOpen(const std::string &prompt,
                                                       const std::vector<std::string> &types,
                                                       bool allowMultiple) = 0;
    /// An existing folder; none when cancelled.
    virtual std::optional<std::string> chooseFolder(const std::string &prompt) = 0;
    /// Shows `text` in the status line.
    virtual void showStatus(const std::string &text) = 0;
};

/// The status line: every new non-empty text that differs from the current one is also
/// written to the beta session log (level "action", category "status").
class HVLoggingStatusField {
  public:
    explicit HVLoggingStatusField(ApplicationUi &ui) : ui(ui) {}
    void setText(const std::string &text);
    const std::string &text() const { return current; }

  private:
    ApplicationUi &ui;
    std::string current;
};

} // namespace orvane
