#pragma once

#include <QAbstractSlider>
#include <QInputDialog>
#include <QMenu>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace orvane {

/// Calls `commit` with the control's value once per gesture: when a drag ends, or at once for
/// a change that is no drag (a click on the groove, the keyboard, the wheel). One gesture is
/// one command, so one undo step.
inline void commitOnRelease(QAbstractSlider *control, QObject *context,
                            std::function<void(int)> commit) {
    QObject::connect(control, &QAbstractSlider::sliderReleased, context,
                     [control, commit] { commit(control->value()); });
    QObject::connect(control, &QAbstractSlider::valueChanged, context,
                     [control, commit](int value) {
                         if (!control->isSliderDown()) commit(value);
                     });
}

/// A "Tags" submenu of `menu`: the usual tags and those already given, each checked when
/// `current` holds it, and "New Tag…". Choosing one calls `toggle` with it.
inline void addUserTagMenu(QMenu &menu, const std::vector<std::string> &current,
                           const std::function<void(const std::string &)> &toggle) {
    QMenu *tags = menu.addMenu(QStringLiteral("Tags"));
    std::vector<std::string> offered = {"Favourite", "Drums", "Bass", "Vocals", "Mixing",
                                        "Mastering"};
    for (const std::string &tag : current)
        if (std::ranges::find(offered, tag) == offered.end()) offered.push_back(tag);
    for (const std::string &tag : offered) {
        QAction *item = tags->addAction(QString::fromStdString(tag), [toggle, tag] { toggle(tag); });
        item->setCheckable(true);
        item->setChecked(std::ranges::find(current, tag) != current.end());
    }
    tags->addSeparator();
    tags->addAction(QStringLiteral("New Tag…"), [tags, toggle] {
        bool ok = false;
        const QString tag = QInputDialog::getText(tags->parentWidget(), QStringLiteral("New Tag"),
                                                  QStringLiteral("Tag:"), QLineEdit::Normal,
                                                  QString(), &ok)
                                .trimmed();
        if (ok && !tag.isEmpty()) toggle(tag.toStdString());
    });
}

} // namespace orvane
