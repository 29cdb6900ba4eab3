#include "app/window/PluginBrowserPanel.h"

#include "app/shell/OVApplication.h"
#include "app/shell/OVMainView.h"
#include "app/window/LongJobRunner.h"
#include "app/window/PanelCommands.h"
#include "app/window/PanelControls.h"
#include "core/commands/TagAndTuningCommands.h"
#include "core/engine/Engine.h"
#include "core/plugins/PluginRack.h"
#include "core/plugins/sandbox/PluginSandboxController.h"
#include "core/plugins/vst3/PluginScanner.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>

namespace orvane {

namespace {

/// "VST3" or "LV2"; descriptions from before formats were told apart are VST 3.
QString formatLabel(const vst::PluginDescription &plugin) {
    return plugin.format.empty() ? QStringLiteral("VST3") : QString::fromStdString(plugin.format);
}

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

/// What the worker finds: the rack's own scan, with a scanner of its own so that nothing the
/// main thread reads changes under it, and with the sandbox a controller of its own that
/// starts the describing helpers, so that the main thread's stays the main thread's alone.
std::vector<vst::PluginDescription> scanOnWorker(bool sandboxed,
                                                 const std::string &helperSearchFolder) {
    vst::PluginScanner scanner;
    if (!sandboxed) return vst::scanInstalledPlugins(scanner, false, nullptr);
    vst::PluginSandboxController describers;
    describers.enabled = true;
    describers.helperSearchFolder = helperSearchFolder;
    return vst::scanInstalledPlugins(scanner, true, &describers);
}

enum Column { nameColumn, vendorColumn, categoryColumn, stateColumn, pathColumn };

} // namespace

bool pluginMatchesSearch(const vst::PluginDescription &plugin, const std::string &query) {
    std::string haystack = plugin.name + ' ' + plugin.vendor + ' ' + plugin.category;
    for (const std::string &tag : plugin.tags)
        haystack += ' ' + tag;
    haystack = lowered(haystack);
    std::istringstream words(lowered(query));
    std::string word;
    while (words >> word)
        if (haystack.find(word) == std::string::npos) return false;
    return true;
}

bool editAllowList(const std::string &path, const std::string &uid, bool allow,
                   std::string &error) {
    std::vector<std::string> lines;
    {
        std::ifstream in(path);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
    }
    const bool present = std::find(lines.begin(), lines.end(), uid) != lines.end();
    if (allow == present) return true;
    if (allow)
        lines.push_back(uid);
    else
        lines.erase(std::remove(lines.begin(), lines.end(), uid), lines.end());
    // Written beside the file and renamed over it, so a failed write leaves the old list.
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        for (const std::string &line : lines)
            out << line << '\n';
        out.flush();
        if (!out) {
            error = "cannot write " + temporary;
            std::error_code ignored;
            std::filesystem::remove(temporary, ignored);
            return false;
        }
    }
    std::error_code renameError;
    std::filesystem::rename(temporary, path, renameError);
    if (renameError) {
        error = "cannot replace " + path + ": " + renameError.message();
        std::filesystem::remove(temporary, renameError);
        return false;
    }
    return true;
}

PluginBrowserPanel::PluginBrowserPanel(OVApplication &application, QWidget *parent)
    : WorkspacePanel(parent), app(application) {
    auto *layout = new QVBoxLayout(this);
    auto *top = new QHBoxLayout();
    search = new QLineEdit(this);
    search->setPlaceholderText(tr("Search plug-ins"));
    search->setClearButtonEnabled(true);
    allowedOnly = new QCheckBox(tr("Allowed only"), this);
    scanButton = new QPushButton(tr("Scan"), this);
    top->addWidget(search, 1);
    top->addWidget(allowedOnly);
    top->addWidget(scanButton);
    layout->addLayout(top);
    scanJobs = new LongJobRunner(this);
    layout->addWidget(scanJobs);

    list = new QTableWidget(0, 5 + 1, this);
    list->setHorizontalHeaderLabels(
        {tr("Plug-in"), tr("Vendor"), tr("Category"), tr("Status"), tr("Path"), tr("Format")});
    // The format comes last among the columns, so that the others keep their places, and is
    // shown beside the name, where the eye looks for it.
    list->horizontalHeader()->moveSection(formatColumn, 1);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->horizontalHeader()->setStretchLastSection(true);
    list->verticalHeader()->hide();
    layout->addWidget(list, 1);

    auto *bottom = new QHBoxLayout();
    auto button = [&](const QString &text, auto action) {
        auto *pushButton = new QPushButton(text, this);
        connect(pushButton, &QPushButton::clicked, this, action);
        bottom->addWidget(pushButton);
    };
    // What a button could not do is on the status line; a scan already running goes on.
    button(tr("Load into Track"), [this] { (void)loadSelected(); });
    button(tr("Block"), [this] { blockSelected(true); });
    button(tr("Unblock"), [this] { blockSelected(false); });
    button(tr("Allow"), [this] { allowSelected(true); });
    button(tr("Disallow"), [this] { allowSelected(false); });
    bottom->addStretch(1);
    layout->addLayout(bottom);

    connect(search, &QLineEdit::textChanged, this, [this] { refill(); });
    connect(allowedOnly, &QCheckBox::toggled, this, [this] { refill(); });
    connect(scanButton, &QPushButton::clicked, this, [this] { (void)startScan(); });
    connect(list, &QTableWidget::cellDoubleClicked, this, [this] { (void)loadSelected(); });
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list, &QTableWidget::customContextMenuRequested, this,
            [this](const QPoint &at) { showPluginMenu(at); });
    allowPatterns = vst::loadVstWhitelist(vst::defaultVstWhitelistPath());
    refill();
}

PluginBrowserPanel::~PluginBrowserPanel() = default;

bool PluginBrowserPanel::scanning() const { return scanJobs->busy(); }

bool PluginBrowserPanel::startScan() {
    if (scanJobs->busy()) return false;
    const vst::PluginRack &rack = app.rack();
    const bool sandboxed = rack.sandboxEnabled;
    const std::string helperFolder =
        rack.sandbox.controller ? rack.sandbox.controller->helperSearchFolder : std::string();
    auto result = std::make_shared<std::vector<vst::PluginDescription>>();
    LongJob job;
    job.title = tr("Scanning plug-ins…").toStdString();
    job.cancellable = false;
    job.perform = [result, sandboxed, helperFolder](JobControl &) {
        *result = scanOnWorker(sandboxed, helperFolder);
    };
    job.finish = [this, result] { scanFinished(std::move(*result)); };
    scanButton->setEnabled(false);
    scanButton->setText(tr("Scanning…"));
    app.status().setText(tr("Scanning plug-ins…").toStdString());
    scanJobs->run(std::move(job));
    return true;
}

void PluginBrowserPanel::scanFinished(std::vector<vst::PluginDescription> found) {
    app.rack().plugins = std::move(found);
    scanButton->setEnabled(true);
    scanButton->setText(tr("Scan"));
    app.status().setText(tr("Plug-ins found: %1").arg(app.rack().plugins.size()).toStdString());
    refill();
}

void PluginBrowserPanel::onTick() {
    const auto &plugins = app.rack().plugins;
    if (!scanJobs->busy() && (plugins.data() != listedData || plugins.size() != listedCount))
        refill();
}

void PluginBrowserPanel::refill() {
    const std::string query = search->text().toStdString();
    const auto &plugins = app.rack().plugins;
    listedData = plugins.data();
    listedCount = plugins.size();
    shown.clear();
    for (std::size_t i = 0; i < plugins.size(); ++i) {
        const bool allowed =
            !allowPatterns.empty() && vst::pluginMatchesWhitelist(plugins[i], allowPatterns);
        // The user's own tags are searched as the plug-in's are.
        vst::PluginDescription described = plugins[i];
        for (std::string &tag : userTagsOf(described.uid))
            described.tags.push_back(std::move(tag));
        if (pluginMatchesSearch(described, query) && (!allowedOnly->isChecked() || allowed))
            shown.push_back(i);
    }
    list->setRowCount(static_cast<int>(shown.size()));
    for (int row = 0; row < static_cast<int>(shown.size()); ++row) {
        const vst::PluginDescription &plugin = plugins[shown[static_cast<std::size_t>(row)]];
        const bool allowed =
            !allowPatterns.empty() && vst::pluginMatchesWhitelist(plugin, allowPatterns);
        QString state = plugin.blacklisted ? tr("blocked") : allowed ? tr("allowed") : QString();
        for (const std::string &tag : userTagsOf(plugin.uid))
            state += (state.isEmpty() ? QString() : QStringLiteral(" ")) + QLatin1Char('#') +
                     QString::fromStdString(tag);
        const QString cells[] = {
            QString::fromStdString(plugin.name), QString::fromStdString(plugin.vendor),
            QString::fromStdString(plugin.category), state, QString::fromStdString(plugin.path)};
        for (int column = 0; column < 5; ++column)
            list->setItem(row, column, new QTableWidgetItem(cells[column]));
        list->setItem(row, formatColumn, new QTableWidgetItem(formatLabel(plugin)));
    }
    list->resizeColumnsToContents();
}

std::vector<std::string> PluginBrowserPanel::userTagsOf(const std::string &uid) const {
    std::lock_guard lock(app.engine().projectMutex);
    const auto &tags = app.engine().project.pluginUserTags;
    const auto found = tags.find(uid);
    return found != tags.end() ? found->second : std::vector<std::string>{};
}

void PluginBrowserPanel::showPluginMenu(const QPoint &at) {
    const int row = list->rowAt(at.y());
    if (row < 0) return;
    list->selectRow(row);
    const int chosen = chosenPlugin();
    if (chosen < 0) return;
    const std::string uid = app.rack().plugins[static_cast<std::size_t>(chosen)].uid;
    QMenu menu(this);
    menu.addAction(tr("Load into Track"), [this] { (void)loadSelected(); });
    // Tags are the project's, kept with the plug-in's id; the search finds them.
    addUserTagMenu(menu, userTagsOf(uid), [this, uid](const std::string &tag) {
        app.view().executeEdit(std::make_unique<TogglePluginUserTagCommand>(uid, tag));
        refill();
    });
    menu.exec(list->viewport()->mapToGlobal(at));
}

int PluginBrowserPanel::chosenPlugin() const {
    const int row = list->currentRow();
    if (row < 0 || row >= static_cast<int>(shown.size())) return -1;
    return static_cast<int>(shown[static_cast<std::size_t>(row)]);
}

void PluginBrowserPanel::blockSelected(bool block) {
    const int index = chosenPlugin();
    if (index < 0) return;
    vst::PluginRack &rack = app.rack();
    const std::string uid = rack.plugins[static_cast<std::size_t>(index)].uid;
    bool saved = true;
    if (block) {
        saved = rack.blacklistPluginUid(uid);
    } else {
        auto &blocked = rack.scanner.blacklist;
        blocked.erase(std::remove(blocked.begin(), blocked.end(), uid), blocked.end());
        saved = rack.scanner.saveBlacklist(vst::defaultVstBlacklistPath());
        for (auto &plugin : rack.plugins)
            if (plugin.uid == uid) plugin.blacklisted = false;
    }
    if (!saved) app.status().setText(tr("Could not save the block list").toStdString());
    const int row = list->currentRow();
    refill();
    list->selectRow(row);
}

void PluginBrowserPanel::allowSelected(bool allow) {
    const int index = chosenPlugin();
    if (index < 0) return;
    const std::string path = vst::defaultVstWhitelistPath();
    std::string error;
    if (!editAllowList(path, app.rack().plugins[static_cast<std::size_t>(index)].uid, allow,
                       error)) {
        app.status().setText(
            tr("Allow list not saved: %1").arg(QString::fromStdString(error)).toStdString());
        return;
    }
    allowPatterns = vst::loadVstWhitelist(path);
    const int row = list->currentRow();
    refill();
    list->selectRow(row);
}

bool PluginBrowserPanel::loadSelected() {
    const int index = chosenPlugin();
    if (index < 0) {
        app.status().setText(tr("Choose a plug-in in the list").toStdString());
        return false;
    }
    const vst::PluginDescription plugin = app.rack().plugins[static_cast<std::size_t>(index)];
    if (plugin.blacklisted) {
        app.status().setText(
            tr("Plug-in blocked: %1").arg(QString::fromStdString(plugin.name)).toStdString());
        return false;
    }
    const uint64_t trackId = app.view().selectedTrackId;
    if (trackId == 0) {
        app.status().setText(tr("Choose a track for the plug-in").toStdString());
        return false;
    }
    if (!executeAddInsert(app, trackId, InsertChoice{false, plugin.uid, plugin.path})) return false;
    if (onProjectEdited) onProjectEdited();
    app.status().setText(
        tr("Plug-in loaded: %1").arg(QString::fromStdString(plugin.name)).toStdString());
    return true;
}

WorkspacePanel *createPluginBrowserPanel(OVApplication &application, QWidget *parent) {
    return new PluginBrowserPanel(application, parent);
}

} // namespace orvane
