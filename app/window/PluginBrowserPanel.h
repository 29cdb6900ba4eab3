#pragma once

#include "app/window/WorkspacePanels.h"
#include "core/plugins/PluginDescription.h"

#include <string>
#include <vector>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace orvane {

class LongJobRunner;

/// True when every word of `query` occurs, ignoring case, in the plug-in's name, vendor,
/// category or tags. An empty query matches everything.
bool pluginMatchesSearch(const vst::PluginDescription &plugin, const std::string &query);

/// Adds `uid` as a line of the allow-list file at `path` (created when missing), or removes
/// every line that is exactly `uid`. Other lines, comments included, stay as they were. False
/// with `error` set when the file could not be written; the file is then unchanged.
[[nodiscard]] bool editAllowList(const std::string &path, const std::string &uid, bool allow,
                                 std::string &error);

/// The plug-in browser: the plug-ins of the last scan with a search field, their block- and
/// allow-list state, a scan that runs on a worker, and loading the chosen plug-in into the
/// selected track (an undoable edit).
class PluginBrowserPanel : public WorkspacePanel {
    Q_OBJECT

  public:
    PluginBrowserPanel(OVApplication &application, QWidget *parent);
    /// The table's column giving each plug-in's format ("VST3", "LV2").
    static constexpr int formatColumn = 5;
    ~PluginBrowserPanel() override;
    /// Follows a scan started elsewhere (the toolbar's), which replaces the rack's list.
    void onTick() override;
    void projectChanged() override {}

    QLineEdit *searchField() const { return search; }
    QTableWidget *table() const { return list; }
    /// Starts a scan on a worker; false when one is running already.
    [[nodiscard]] bool startScan();
    bool scanning() const;
    /// Index into the rack's `plugins` of each row shown.
    const std::vector<std::size_t> &shownRows() const { return shown; }

    void blockSelected(bool block);
    void allowSelected(bool allow);
    /// Loads the chosen plug-in into the selected track; false when nothing was loaded.
    [[nodiscard]] bool loadSelected();

  private:
    void refill();
    void showPluginMenu(const QPoint &at);
    std::vector<std::string> userTagsOf(const std::string &uid) const;
    int chosenPlugin() const;
    void scanFinished(std::vector<vst::PluginDescription> found);

    OVApplication &app;
    QLineEdit *search = nullptr;
    QCheckBox *allowedOnly = nullptr;
    QTableWidget *list = nullptr;
    QPushButton *scanButton = nullptr;
    LongJobRunner *scanJobs = nullptr;
    std::vector<std::size_t> shown;
    /// The rack's list as last shown: where it started and how long it was.
    const void *listedData = nullptr;
    std::size_t listedCount = 0;
    std::vector<std::string> allowPatterns;
};

} // namespace orvane
