#pragma once

#include "app/shell/ApplicationUi.h"

#include <functional>

class QFileDialog;
class QString;
class QWidget;

namespace orvane {

/// The document operations' questions asked with Qt dialogs over the main window.
class QtApplicationUi final : public ApplicationUi {
  public:
    /// The dialogs' parent; may be null before the window exists.
    QWidget *parent = nullptr;
    /// Where status texts go (the window's status line).
    std::function<void(const std::string &)> statusSink;

    int runAlert(const std::string &title, const std::string &text,
                 const std::vector<std::string> &buttons) override;
    std::optional<std::string> chooseSaveLocation(const std::string &type,
                                                  const std::string &defaultName) override;
    std::vector<std::string> chooseFilesToOpen(const std::string &prompt,
                                               const std::vector<std::string> &types,
                                               bool allowMultiple) override;
    std::optional<std::string> chooseFolder(const std::string &prompt) override;
    void showStatus(const std::string &text) override;
};

/// A file-dialog filter for the given extensions, for example "(*.wav *.flac)".
std::string fileFilterFor(const std::vector<std::string> &types);

/// The open dialog for project folders: entering a ".halvora" folder opens it.
void configureProjectDialog(QFileDialog &dialog);
/// Asks for a project folder; empty when the user cancels.
QString chooseProjectFolder(QWidget *parent, const QString &prompt);

} // namespace orvane
