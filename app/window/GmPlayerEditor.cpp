#include "app/window/GmPlayerEditor.h"

#include "core/commands/InstrumentCommands.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace orvane {

namespace {

// Banks go up to 128 and programs to 127: one number keeps both in an item's data.
int presetKey(int32_t bank, int32_t program) { return bank * 1000 + program; }

QString fontShown(const std::string &font) {
    const std::string path = font.empty() ? stock::defaultGmFontPath() : font;
    if (path.empty()) return GmPlayerEditor::tr("No General MIDI font is installed");
    return QFileInfo(QString::fromStdString(path)).fileName();
}

} // namespace

GmPlayerEditor::GmPlayerEditor(QWidget *parent) : QWidget(parent) {
    auto *outer = new QVBoxLayout(this);
    auto *grid = new QGridLayout();
    grid->addWidget(new QLabel(tr("Sound font:"), this), 0, 0);
    fontLabel = new QLabel(this);
    grid->addWidget(fontLabel, 0, 1);
    fontButton = new QPushButton(tr("Choose…"), this);
    fontButton->setToolTip(tr("Play another SoundFont 2 file"));
    grid->addWidget(fontButton, 0, 2);
    grid->addWidget(new QLabel(tr("Sound:"), this), 1, 0);
    presetBox = new QComboBox(this);
    presetBox->setMinimumWidth(280);
    presetBox->setToolTip(tr("The font's preset the track plays, by bank and program"));
    grid->addWidget(presetBox, 1, 1, 1, 2);
    drumBox = new QCheckBox(tr("Drum part (channel 10)"), this);
    drumBox->setToolTip(tr("Plays the font's drum kits, as a General MIDI file's channel 10"));
    grid->addWidget(drumBox, 2, 1, 1, 2);
    grid->setColumnStretch(1, 1);
    outer->addLayout(grid);
    outer->addStretch(1);

    chooseFontFile = [this] {
        return QFileDialog::getOpenFileName(this, tr("Choose a Sound Font"), QString(),
                                            tr("SoundFont 2 files (*.sf2);;All files (*)"));
    };
    connect(fontButton, &QPushButton::clicked, this, [this] {
        const QString chosen = chooseFontFile ? chooseFontFile() : QString();
        if (chosen.isEmpty()) return;
        stock::GmSettings wanted = shown;
        wanted.font = chosen.toStdString();
        choose(wanted);
    });
    connect(presetBox, &QComboBox::activated, this, [this](int index) {
        const int key = presetBox->itemData(index).toInt();
        stock::GmSettings wanted = shown;
        wanted.bank = key / 1000;
        wanted.program = key % 1000;
        wanted.drums = wanted.bank == stock::gmDrumBank;
        choose(wanted);
    });
    connect(drumBox, &QCheckBox::clicked, this, [this](bool drums) {
        stock::GmSettings wanted = shown;
        wanted.drums = drums;
        wanted.bank = drums ? stock::gmDrumBank : 0;
        wanted.program = 0;
        choose(wanted);
    });
}

void GmPlayerEditor::choose(const stock::GmSettings &wanted) {
    if (wanted == shown || !execute) return;
    std::string error;
    std::unique_ptr<SetTrackInstrumentCommand> command =
        makeGmInstrumentCommand(track, wanted, error);
    if (!command) {
        if (report) report(error);
        showSettings(shown);
        return;
    }
    execute(std::move(command));
}

void GmPlayerEditor::listPresetsOf(const std::string &font) {
    if (listed && font == listedFont) return;
    listed = true;
    listedFont = font;
    const QSignalBlocker quiet(presetBox);
    presetBox->clear();
    std::string error;
    const std::shared_ptr<const stock::SoundFont> loaded = stock::SoundFont::load(font, error);
    if (!loaded) return;
    for (const stock::SoundFontPreset &preset : loaded->presets())
        presetBox->addItem(QStringLiteral("%1:%2  %3")
                               .arg(preset.bank, 3, 10, QLatin1Char('0'))
                               .arg(preset.program, 3, 10, QLatin1Char('0'))
                               .arg(QString::fromStdString(preset.name)),
                           presetKey(preset.bank, preset.program));
}

void GmPlayerEditor::showSettings(const stock::GmSettings &settings) {
    shown = settings;
    fontLabel->setText(fontShown(settings.font));
    listPresetsOf(settings.font);
    const QSignalBlocker quietPresets(presetBox);
    const QSignalBlocker quietDrums(drumBox);
    presetBox->setCurrentIndex(presetBox->findData(presetKey(settings.bank, settings.program)));
    drumBox->setChecked(settings.drums);
}

} // namespace orvane
