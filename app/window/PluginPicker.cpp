#include "app/window/PluginPicker.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

#include <algorithm>
#include <set>

namespace orvane {

namespace {

constexpr int uidRole = Qt::UserRole;
constexpr std::size_t recentKept = 12;
const QString favouritesKey = QStringLiteral("pluginPicker/favourites");
const QString recentKey = QStringLiteral("pluginPicker/recent");

QString searchableText(const vst::PluginDescription &plugin) {
    QString text = QString::fromStdString(plugin.name + ' ' + plugin.vendor + ' ' +
                                          plugin.category + ' ' + plugin.format);
    for (const std::string &tag : plugin.tags)
        text += QLatin1Char(' ') + QString::fromStdString(tag);
    return text.toLower();
}

bool contains(const std::vector<std::string> &list, const std::string &uid) {
    return std::find(list.begin(), list.end(), uid) != list.end();
}

bool onShelf(const vst::PluginDescription &plugin, const std::string &shelf,
             const std::vector<std::string> &favourites, const std::vector<std::string> &recent) {
    if (shelf.empty()) return true;
    if (shelf == "favourites") return contains(favourites, plugin.uid);
    if (shelf == "recent") return contains(recent, plugin.uid);
    if (shelf == "instruments") return plugin.isInstrument;
    if (shelf == "effects") return !plugin.isInstrument;
    return plugin.category == shelf;
}

std::vector<std::string> stored(const QString &key) {
    std::vector<std::string> list;
    for (const QString &uid : QSettings(QStringLiteral("Halvora"), QStringLiteral("Halvora"))
                                  .value(key)
                                  .toStringList())
        list.push_back(uid.toStdString());
    return list;
}

void store(const QString &key, const std::vector<std::string> &list) {
    QStringList uids;
    for (const std::string &uid : list)
        uids.push_back(QString::fromStdString(uid));
    QSettings(QStringLiteral("Halvora"), QStringLiteral("Halvora")).setValue(key, uids);
}

} // namespace

std::vector<const vst::PluginDescription *>
pickablePlugins(const std::vector<vst::PluginDescription> &plugins, const std::string &query,
                const std::string &shelf, const std::vector<std::string> &favourites,
                const std::vector<std::string> &recent) {
    const QStringList words =
        QString::fromStdString(query).toLower().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    std::vector<const vst::PluginDescription *> found;
    for (const vst::PluginDescription &plugin : plugins) {
        if (plugin.blacklisted || !onShelf(plugin, shelf, favourites, recent)) continue;
        const QString text = searchableText(plugin);
        if (std::all_of(words.begin(), words.end(),
                        [&text](const QString &word) { return text.contains(word); }))
            found.push_back(&plugin);
    }
    const auto recency = [&recent](const vst::PluginDescription *plugin) {
        const auto at = std::find(recent.begin(), recent.end(), plugin->uid);
        return at == recent.end() ? recent.size() : static_cast<std::size_t>(at - recent.begin());
    };
    std::stable_sort(found.begin(), found.end(), [&](const auto *a, const auto *b) {
        if (shelf == "recent" && recency(a) != recency(b)) return recency(a) < recency(b);
        return QString::fromStdString(a->name).compare(QString::fromStdString(b->name),
                                                       Qt::CaseInsensitive) < 0;
    });
    return found;
}

PluginPicker::PluginPicker(const std::vector<vst::PluginDescription> &scanned, QWidget *parent)
    : QDialog(parent), plugins(scanned), favourites(stored(favouritesKey)),
      recent(stored(recentKey)) {
    setWindowTitle(tr("Insert Plug-in"));
    resize(640, 480);
    auto *layout = new QVBoxLayout(this);
    auto *top = new QHBoxLayout();
    search = new QLineEdit(this);
    search->setPlaceholderText(tr("Search by name, maker, category, format or tag"));
    search->setClearButtonEnabled(true);
    top->addWidget(search, 1);
    shelf = new QComboBox(this);
    shelf->addItem(tr("All Plug-ins"), QString());
    shelf->addItem(tr("Favourites"), QStringLiteral("favourites"));
    shelf->addItem(tr("Recently Used"), QStringLiteral("recent"));
    shelf->addItem(tr("Instruments"), QStringLiteral("instruments"));
    shelf->addItem(tr("Effects"), QStringLiteral("effects"));
    std::set<std::string> categories;
    for (const vst::PluginDescription &plugin : plugins)
        if (!plugin.category.empty()) categories.insert(plugin.category);
    for (const std::string &category : categories)
        shelf->addItem(QString::fromStdString(category), QString::fromStdString(category));
    shelf->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    top->addWidget(shelf);
    layout->addLayout(top);
    results = new QListWidget(this);
    results->setSelectionMode(QAbstractItemView::ExtendedSelection);
    layout->addWidget(results, 1);
    auto *buttons = new QHBoxLayout();
    auto *hint = new QLabel(tr("Several chosen with Ctrl or Shift go in one after another"), this);
    buttons->addWidget(hint, 1);
    favourite = new QPushButton(tr("☆ Favourite"), this);
    favourite->setToolTip(tr("Mark or unmark the chosen plug-ins as favourites"));
    buttons->addWidget(favourite);
    insert = new QPushButton(tr("Insert"), this);
    insert->setDefault(true);
    buttons->addWidget(insert);
    layout->addLayout(buttons);

    connect(search, &QLineEdit::textChanged, this, [this] { refill(); });
    connect(shelf, &QComboBox::currentIndexChanged, this, [this] { refill(); });
    connect(results, &QListWidget::itemActivated, this, [this] { insertChosen(); });
    connect(favourite, &QPushButton::clicked, this, [this] { toggleFavourite(); });
    connect(insert, &QPushButton::clicked, this, [this] { insertChosen(); });
    refill();
    search->setFocus();
}

void PluginPicker::keyPressEvent(QKeyEvent *event) {
    // From the search field the arrows go on into the list.
    if ((event->key() == Qt::Key_Down || event->key() == Qt::Key_Up) && search->hasFocus() &&
        results->count() > 0) {
        results->setFocus();
        if (!results->currentItem()) results->setCurrentRow(0);
        return;
    }
    QDialog::keyPressEvent(event);
}

void PluginPicker::refill() {
    const std::string query = search->text().toStdString();
    const std::string chosenShelf = shelf->currentData().toString().toStdString();
    results->clear();
    for (const vst::PluginDescription *plugin :
         pickablePlugins(plugins, query, chosenShelf, favourites, recent)) {
        const bool starred = contains(favourites, plugin->uid);
        QString text = (starred ? QStringLiteral("★ ") : QString()) +
                       QString::fromStdString(plugin->name);
        if (!plugin->vendor.empty()) text += QStringLiteral(" — ") + QString::fromStdString(plugin->vendor);
        text += QStringLiteral("  ·  ") + QString::fromStdString(plugin->category.empty()
                                                                    ? plugin->format
                                                                    : plugin->category + " · " +
                                                                          plugin->format);
        auto *item = new QListWidgetItem(text, results);
        item->setData(uidRole, QString::fromStdString(plugin->uid));
    }
    results->setCurrentRow(results->count() > 0 ? 0 : -1);
    insert->setEnabled(results->count() > 0);
}

void PluginPicker::insertChosen() {
    std::vector<std::string> uids;
    for (int row = 0; row < results->count(); ++row)
        if (results->item(row)->isSelected())
            uids.push_back(results->item(row)->data(uidRole).toString().toStdString());
    if (uids.empty() && results->currentItem())
        uids.push_back(results->currentItem()->data(uidRole).toString().toStdString());
    for (const std::string &uid : uids) {
        const auto plugin = std::find_if(plugins.begin(), plugins.end(),
                                         [&uid](const auto &each) { return each.uid == uid; });
        if (plugin == plugins.end()) continue;
        std::erase(recent, uid);
        recent.insert(recent.begin(), uid);
        if (recent.size() > recentKept) recent.resize(recentKept);
        if (onInsert && !onInsert(*plugin)) break;
    }
    store(recentKey, recent);
    if (!uids.empty()) accept();
}

void PluginPicker::toggleFavourite() {
    for (QListWidgetItem *item : results->selectedItems()) {
        const std::string uid = item->data(uidRole).toString().toStdString();
        if (contains(favourites, uid))
            std::erase(favourites, uid);
        else
            favourites.push_back(uid);
    }
    store(favouritesKey, favourites);
    const int row = results->currentRow();
    refill();
    results->setCurrentRow(std::min(row, results->count() - 1));
}

} // namespace orvane
