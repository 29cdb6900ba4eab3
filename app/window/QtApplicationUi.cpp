#include "app/window/QtApplicationUi.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace orvane {

std::string fileFilterFor(const std::vector<std::string> &types) {
    std::string filter = "(";
    for (const auto &type : types) {
        if (filter.size() > 1) filter += ' ';
        filter += "*." + type;
    }
    return filter + ")";
}

int QtApplicationUi::runAlert(const std::string &title, const std::string &text,
                              const std::vector<std::string> &buttons) {
    QMessageBox box(parent);
    box.setWindowTitle(QString::fromStdString(title));
    box.setText(QString::fromStdString(title));
    box.setInformativeText(QString::fromStdString(text));
    std::vector<QAbstractButton *> added;
    for (const auto &label : buttons)
        added.push_back(box.addButton(QString::fromStdString(label), QMessageBox::ActionRole));
    if (buttons.empty()) added.push_back(box.addButton(QMessageBox::Ok));
    if (!added.empty()) box.setDefaultButton(qobject_cast<QPushButton *>(added.front()));
    box.exec();
    for (std::size_t i = 0; i < added.size() && i < buttons.size(); ++i)
        if (box.clickedButton() == added[i]) return static_cast<int>(i);
    return buttons.empty() && box.clickedButton() ? 0 : -1;
}

QString chooseProjectFolder(QWidget *parent, const QString &prompt) {
    QFileDialog dialog(parent, prompt);
    configureProjectDialog(dialog);
    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : chosen.front();
}

void configureProjectDialog(QFileDialog &dialog) {
    // A project is a folder ending in ".halvora", shown and opened as one document: entering
    // it opens it, as double-clicking a file would.
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setLabelText(QFileDialog::Accept,
                        QCoreApplication::translate("orvane::QtApplicationUi", "Open"));
    dialog.setNameFilter(
        QCoreApplication::translate("orvane::QtApplicationUi", "Halvora projects (*.halvora)"));
    QObject::connect(&dialog, &QFileDialog::directoryEntered, &dialog,
                     [&dialog](const QString &folder) {
                         if (!folder.endsWith(QStringLiteral(".halvora"))) return;
                         dialog.selectFile(folder);
                         static_cast<QDialog &>(dialog).accept();
                     });
    QObject::connect(
        &dialog, &QFileDialog::currentChanged, &dialog, [&dialog](const QString &path) {
            if (path.endsWith(QStringLiteral(".halvora")))
                dialog.setLabelText(
                    QFileDialog::Accept,
                    QCoreApplication::translate("orvane::QtApplicationUi", "Open Project"));
        });
}

std::optional<std::string> QtApplicationUi::chooseSaveLocation(const std::string &type,
                                                               const std::string &defaultName) {
    const QString chosen =
        QFileDialog::getSaveFileName(parent, QString(), QString::fromStdString(defaultName),
                                     QString::fromStdString(fileFilterFor({type})));
    if (chosen.isEmpty()) return std::nullopt;
    return chosen.toStdString();
}

std::vector<std::string> QtApplicationUi::chooseFilesToOpen(const std::string &prompt,
                                                            const std::vector<std::string> &types,
                                                            bool allowMultiple) {
    // A project is a folder ending in ".halvora": choose folders for it.
    const bool projectFolders = types.size() == 1 && types.front() == "halvora";
    QStringList chosen;
    if (projectFolders) {
        const QString folder = chooseProjectFolder(parent, QString::fromStdString(prompt));
        if (!folder.isEmpty()) chosen << folder;
    } else if (allowMultiple) {
        chosen = QFileDialog::getOpenFileNames(parent, QString::fromStdString(prompt), QString(),
                                               QString::fromStdString(fileFilterFor(types)));
    } else {
        const QString one =
            QFileDialog::getOpenFileName(parent, QString::fromStdString(prompt), QString(),
                                         QString::fromStdString(fileFilterFor(types)));
        if (!one.isEmpty()) chosen << one;
    }
    std::vector<std::string> paths;
    for (const QString &path : chosen)
        paths.push_back(path.toStdString());
    return paths;
}

std::optional<std::string> QtApplicationUi::chooseFolder(const std::string &prompt) {
    const QString folder =
        QFileDialog::getExistingDirectory(parent, QString::fromStdString(prompt));
    if (folder.isEmpty()) return std::nullopt;
    return folder.toStdString();
}

void QtApplicationUi::showStatus(const std::string &text) {
    if (statusSink) statusSink(text);
}

} // namespace orvane
