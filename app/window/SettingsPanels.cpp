#include "app/window/SettingsPanels.h"

#include "app/shell/OVMainView.h"
#include "core/engine/Engine.h"
#include "device/AudioDeviceEngine.h"
#include "device/DeviceSettings.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace orvane {

namespace {

constexpr const char *quickStartKey = "hv.quickStartOffered=1";

QDoubleSpinBox *calibrationField(double milliseconds, QWidget *parent) {
    auto *field = new QDoubleSpinBox(parent);
    field->setRange(-500.0, 500.0);
    field->setDecimals(1);
    field->setSuffix(AudioSettingsPanel::tr(" ms"));
    field->setValue(milliseconds);
    return field;
}

} // namespace

AudioSettingsPanel::AudioSettingsPanel(OVApplication &application, QWidget *parent)
    : QDialog(parent), app(application) {
    setWindowTitle(tr("Audio Settings"));
    auto *layout = new QVBoxLayout(this);
    auto *intro = new QLabel(
        tr("Devices, buffer size and the recording latency calibration (how far recorded "
           "clips are shifted on the timeline). Changes apply at once."),
        this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    auto *form = new QFormLayout;
    outputDevices = new QComboBox(this);
    inputDevices = new QComboBox(this);
    bufferSize = new QComboBox(this);
    for (int size : bufferSizes)
        bufferSize->addItem(QString::number(size), size);
    const int current = app.audio().bufferFrames;
    const int index = bufferSize->findData(current);
    bufferSize->setCurrentIndex(index >= 0 ? index : bufferSize->findData(512));
    double inputMs = 0.0, outputMs = 0.0;
    {
        Engine &engine = app.engine();
        std::lock_guard lock(engine.projectMutex);
        const double rate = engine.project.sampleRate;
        if (rate > 0.0) {
            inputMs = engine.project.inputLatencyOffsetSamples / rate * 1000.0;
            outputMs = engine.project.outputLatencyOffsetSamples / rate * 1000.0;
        }
    }
    inputCalibration = calibrationField(inputMs, this);
    outputCalibration = calibrationField(outputMs, this);
    form->addRow(tr("Output"), outputDevices);
    form->addRow(tr("Input"), inputDevices);
    form->addRow(tr("Buffer"), bufferSize);
    form->addRow(tr("Input calibration"), inputCalibration);
    form->addRow(tr("Output calibration"), outputCalibration);
    layout->addLayout(form);
    rateLine = new QLabel(this);
    latencyLine = new QLabel(this);
    layout->addWidget(rateLine);
    layout->addWidget(latencyLine);
    auto *buttons = new QDialogButtonBox(this);
    buttons->addButton(tr("Apply"), QDialogButtonBox::AcceptRole);
    buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
    // Refused, the panel stays open and the status line says why.
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { (void)apply(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(bufferSize, &QComboBox::currentIndexChanged, this, [this] { refreshInformation(); });
    layout->addWidget(buttons);
    fillDevices();
    refreshInformation();
}

void AudioSettingsPanel::fillDevices() {
    AudioDeviceEngine &audio = app.audio();
    const auto devices = audio.listDevices();
    for (const auto &device : devices) {
        const QString name = QString::fromStdString(device.name);
        if (device.hasOutput) outputDevices->addItem(name, name);
        if (device.hasInput) inputDevices->addItem(name, name);
    }
    // The empty lists say so and offer nothing to apply.
    if (outputDevices->count() == 0) outputDevices->addItem(tr("No output devices"));
    if (inputDevices->count() == 0) inputDevices->addItem(tr("No input devices"));
    const auto select = [](QComboBox *box, const std::string &name) {
        const int found = box->findData(QString::fromStdString(name));
        if (found >= 0) box->setCurrentIndex(found);
    };
    select(outputDevices, audio.outputDeviceName);
    select(inputDevices, audio.inputDeviceName);
}

void AudioSettingsPanel::refreshInformation() {
    AudioDeviceEngine &audio = app.audio();
    double projectRate = 0.0;
    {
        std::lock_guard lock(app.engine().projectMutex);
        projectRate = app.engine().project.sampleRate;
    }
    const double inputRate = audio.inputNominalSampleRate();
    if (inputRate <= 0.0 || std::abs(inputRate - projectRate) < 0.5)
        rateLine->setText(tr("%1 Hz · output and recording in sync").arg(projectRate, 0, 'f', 0));
    else
        rateLine->setText(tr("Project: %1 Hz · microphone %2 Hz (converted while recording)")
                              .arg(projectRate, 0, 'f', 0)
                              .arg(inputRate, 0, 'f', 0));
    const int frames = bufferSize->currentData().toInt();
    const double rate = audio.sampleRate > 0.0 ? audio.sampleRate : projectRate;
    const double periodMs = rate > 0.0 ? frames / rate * 1000.0 : 0.0;
    latencyLine->setText(tr("input ~%1 ms + output ~%2 ms (buffer %3)")
                             .arg(periodMs + inputCalibration->value(), 0, 'f', 1)
                             .arg(periodMs + outputCalibration->value(), 0, 'f', 1)
                             .arg(frames));
}

AudioSettingsChoice AudioSettingsPanel::choice() const {
    AudioSettingsChoice chosen;
    chosen.outputDevice = outputDevices->currentData().toString().toStdString();
    chosen.inputDevice = inputDevices->currentData().toString().toStdString();
    chosen.bufferFrames = bufferSize->currentData().toInt();
    chosen.inputLatencyMs = inputCalibration->value();
    chosen.outputLatencyMs = outputCalibration->value();
    return chosen;
}

bool AudioSettingsPanel::apply() {
    if (!app.applyAudioSettings(choice())) return false;
    accept();
    return true;
}

QuickStartPanel::QuickStartPanel(QWidget *parent) : QDialog(parent) {
    setWindowTitle(tr("Quick Start"));
    auto *layout = new QVBoxLayout(this);
    auto *text = new QLabel(
        tr("<b>Halvora</b><ol><li>Space plays and stops the start-up song.</li><li>Drop an "
           "audio file on the timeline or choose “Import Audio…” (Ctrl+I).</li><li>Drag "
           "clips to move them and their edges to trim them; S splits at the playhead, "
           "Ctrl+D duplicates, Delete removes.</li><li>Double-click a MIDI clip to open the "
           "piano roll.</li><li>The Session and Mixer pages launch clips and mix.</li><li>"
           "Ctrl+Z undoes, Ctrl+S saves, Ctrl+E exports a WAV.</li></ol>"),
        this);
    text->setWordWrap(true);
    layout->addWidget(text);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

bool quickStartWasOffered() {
    std::ifstream file(deviceSettingsPath());
    std::string line;
    while (std::getline(file, line))
        if (line == quickStartKey) return true;
    return false;
}

bool rememberQuickStartOffered() {
    if (quickStartWasOffered()) return true;
    const auto path = deviceSettingsPath();
    if (path.empty()) return false;
    std::error_code ignored;
    std::filesystem::create_directories(path.parent_path(), ignored);
    std::ofstream file(path, std::ios::app);
    file << quickStartKey << '\n';
    return static_cast<bool>(file.flush());
}

} // namespace orvane
