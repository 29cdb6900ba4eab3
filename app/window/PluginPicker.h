#pragma once

#include "core/plugins/PluginDescription.h"

#include <QDialog>

#include <functional>
#include <string>
#include <vector>

class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace orvane {

/// Which of the scanned plug-ins a picker shows: those whose name, maker, category, format and
/// tags hold every word of `query` (any case), in `shelf` ("" all, "favourites", "recent",
/// "instruments", "effects" or a category's name), blocked ones never. Recently used ones keep
/// the order of `recent` (newest first), the others go by name.
std::vector<const vst::PluginDescription *>
pickablePlugins(const std::vector<vst::PluginDescription> &plugins, const std::string &query,
                const std::string &shelf, const std::vector<std::string> &favourites,
                const std::vector<std::string> &recent);

/// The searchable plug-in picker: type to narrow the list, pick a shelf (favourites, recently
/// used, instruments, effects or a category), mark favourites, and insert one or several
/// plug-ins at once (in list order) with Enter, a double-click or "Insert". Favourites and the
/// recently used list are the user's, kept between sessions.
class PluginPicker : public QDialog {
    Q_OBJECT
  public:
    PluginPicker(const std::vector<vst::PluginDescription> &plugins, QWidget *parent);

    /// Called with each chosen plug-in in turn; false stops the rest.
    std::function<bool(const vst::PluginDescription &)> onInsert;

    QLineEdit *searchField() const { return search; }
    QComboBox *shelfChooser() const { return shelf; }
    QListWidget *resultList() const { return results; }
    QPushButton *favouriteButton() const { return favourite; }
    QPushButton *insertButton() const { return insert; }

  protected:
    void keyPressEvent(QKeyEvent *event) override;

  private:
    void refill();
    void insertChosen();
    void toggleFavourite();

    std::vector<vst::PluginDescription> plugins;
    std::vector<std::string> favourites;
    std::vector<std::string> recent;
    QLineEdit *search = nullptr;
    QComboBox *shelf = nullptr;
    QListWidget *results = nullptr;
    QPushButton *favourite = nullptr;
    QPushButton *insert = nullptr;
};

} // namespace orvane
