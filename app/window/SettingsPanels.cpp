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

QString formatted(const char *format, auto... values) {
    char text[256];
    std::snprintf(text, sizeof text, format, values...);
    return QString::fromUtf8(text);
}

QDoubleSpinBox *calibrationField(double milliseconds, QWidget *parent) {
    auto *field = new QDoubleSpinBox(parent);
    field->setRange(-500.0, 500.0);
    field->setDecimals(1);
    field->setSuffix(QStringLiteral(" мс"));
    field->setValue(milliseconds);
    return field;
}

} // namespace

AudioSettingsPanel::AudioSettingsPanel(OVApplication &application, QWidget *parent)
    : QDialog(parent), app(application) {
    setWindowTitle(QStringLiteral("Настройки аудио"));
    auto *layout = new QVBoxLayout(this);
    auto *intro = new QLabel(QStringLiteral("Устройства, буфер и калибровка задержки записи (сдвиг "
                                            "клипа на таймлайне). Изменения применяются сразу."),
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
    form->addRow(QStringLiteral("Вывод"), outputDevices);
    form->addRow(QStringLiteral("Ввод"), inputDevices);
    form->addRow(QStringLiteral("Буфер"), bufferSize);
    form->addRow(QStringLiteral("Калибровка ввода"), inputCalibration);
    form->addRow(QStringLiteral("Калибровка вывода"), outputCalibration);
    layout->addLayout(form);
    rateLine = new QLabel(this);
    latencyLine = new QLabel(this);
    layout->addWidget(rateLine);
    layout->addWidget(latencyLine);
    auto *buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("Применить"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { apply(); });
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
    if (outputDevices->count() == 0) outputDevices->addItem(QStringLiteral("Нет устройств вывода"));
    if (inputDevices->count() == 0) inputDevices->addItem(QStringLiteral("Нет устройств ввода"));
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
        rateLine->setText(formatted("%.0f Hz · вывод и запись синхронизированы", projectRate));
    else
        rateLine->setText(formatted("Проект: %.0f Hz · микрофон %.0f Hz (конвертация при записи)",
                                    projectRate, inputRate));
    const int frames = bufferSize->currentData().toInt();
    const double rate = audio.sampleRate > 0.0 ? audio.sampleRate : projectRate;
    const double periodMs = rate > 0.0 ? frames / rate * 1000.0 : 0.0;
    latencyLine->setText(formatted("ввод ~%.1f мс + вывод ~%.1f мс (буфер %d)",
                                   periodMs + inputCalibration->value(),
                                   periodMs + outputCalibration->value(), frames));
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
    setWindowTitle(QStringLiteral("Быстрый старт"));
    auto *layout = new QVBoxLayout(this);
    auto *text = new QLabel(
        QStringLiteral("<b>Halvora</b><ol>"
                       "<li>Пробел — воспроизведение и остановка стартовой песни.</li>"
                       "<li>Перетащите аудиофайл на таймлайн или выберите «Импортировать "
                       "аудио…» (Ctrl+I).</li>"
                       "<li>Клипы двигаются мышью, края обрезают, S режет на playhead, "
                       "Ctrl+D дублирует, Delete удаляет.</li>"
                       "<li>Двойной щелчок по MIDI-клипу открывает piano roll.</li>"
                       "<li>Вкладки Session и Mixer — запуск клипов и сведение.</li>"
                       "<li>Ctrl+Z отменяет, Ctrl+S сохраняет, Ctrl+E экспортирует WAV.</li>"
                       "</ol>"),
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
