#include "app/window/MixerPanel.h"
#include "core/engine/RenderStages.h"

#include "app/shell/OVApplication.h"
#include "app/shell/OVMainView.h"
#include "app/window/MidiLearnMenu.h"
#include "app/window/PanelControls.h"
#include "app/window/PluginDspWindow.h"
#include "app/window/PluginParameterPanel.h"
#include "app/window/PluginPicker.h"
#include "app/window/StockEffectPanel.h"
#include "app/workflows/AutomationWriter.h"
#include "app/workflows/MidiLearning.h"
#include "core/commands/AutomationCommands.h"
#include "core/commands/InsertListCommands.h"
#include "core/commands/MixerCommands.h"
#include "core/commands/PluginPresetCommands.h"
#include "core/commands/SnapshotCommands.h"
#include "core/commands/TrackCommands.h"
#include "core/engine/Engine.h"
#include "core/model/AutomationLanes.h"
#include "core/model/StockEffectSettings.h"
#include "core/plugins/PluginRack.h"
#include "core/plugins/lv2/Lv2Plugin.h"
#include "core/plugins/vst3/Vst3Plugin.h"
#include "core/plugins/vst3/hosting/EditorWindow.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDial>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace orvane {

namespace {

constexpr const char *stockInserts[] = {"stock.eq", "stock.compressor", "stock.delay",
                                        "stock.reverb"};

QString viewText(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

/// A built-in insert by its name for people rather than its id.
QString insertLabel(const InsertSlot &insert) {
    return insert.isStock ? viewText(stockEffectName(insert.displayName))
                          : QString::fromStdString(insert.displayName);
}

StripValues valuesOf(const Track &track) {
    return {track.name, track.color, track.gain,  track.pan,
            track.mute, track.solo,  track.armed, track.sends};
}

/// What the strip shows: where a lane drives the fader or the pan, the value heard at the
/// playhead, so the controls move with the automation as they play it.
StripValues shownValuesOf(const Track &track, int64_t playhead) {
    StripValues values = valuesOf(track);
    if (!hasMixerAutomation(track)) return values;
    values.gain = mixerValueAt(track, 0, playhead);
    values.pan = mixerValueAt(track, 1, playhead);
    return values;
}

/// The return track a send slot feeds: its own target, else the slot-th return track.
uint64_t sendTarget(const Project &project, const Track &track, int slot) {
    const uint64_t own = track.sends[static_cast<std::size_t>(slot)].returnId;
    if (own != 0) return own;
    int seen = 0;
    for (const auto &candidate : project.tracks)
        if (candidate->type == TrackType::Return && seen++ == slot) return candidate->id;
    return 0;
}

QPushButton *smallButton(const QString &text, const QString &tip, QWidget *parent) {
    auto *button = new QPushButton(text, parent);
    button->setToolTip(tip);
    return button;
}

} // namespace

MixerPanel::MixerPanel(OVApplication &application, QWidget *parent)
    : WorkspacePanel(parent), app(application) {
    auto *layout = new QHBoxLayout(this);
    auto *scroll = new QScrollArea(this);
    stripHost = new QWidget(scroll);
    stripRow = new QHBoxLayout(stripHost);
    stripRow->setSpacing(2);
    stripRow->setContentsMargins(2, 2, 2, 2);
    scroll->setWidget(stripHost);
    scroll->setWidgetResizable(true);
    layout->addWidget(scroll, 1);
    auto *masterHost = new QWidget(this);
    masterRow = new QHBoxLayout(masterHost);
    masterRow->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(masterHost);

    auto *detail = new QWidget(this);
    detail->setFixedWidth(420);
    detailLayout = new QVBoxLayout(detail);
    detailTitle = new QLabel(detail);
    eqOn = new QCheckBox(tr("EQ"), detail);
    eqCurve = new EqCurveView(detail);
    auto *titleRow = new QHBoxLayout();
    titleRow->addWidget(detailTitle, 1);
    titleRow->addWidget(buildSnapshotButton(detail));
    detailLayout->addLayout(titleRow);
    detailLayout->addWidget(eqOn);
    detailLayout->addWidget(eqCurve, 1);
    eqCurve->onEdited = [this](const ChannelEq8 &eq) {
        execute(std::make_unique<SetChannelEqCommand>(selected, eq));
    };
    connect(eqOn, &QCheckBox::toggled, this, [this](bool on) {
        ChannelEq8 eq = eqCurve->eq();
        eq.enabled = on;
        execute(std::make_unique<SetChannelEqCommand>(selected, eq));
    });

    detailPages = new QStackedWidget(detail);
    auto *insertPage = new QWidget(detailPages);
    auto *insertLayout = new QVBoxLayout(insertPage);
    inserts = new QListWidget(insertPage);
    inserts->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(inserts, &QListWidget::customContextMenuRequested, this,
            [this](const QPoint &at) { showInsertMenu(at); });
    insertLayout->addLayout(buildMacroRow(insertPage));
    insertLayout->addWidget(new QLabel(tr("Inserts"), insertPage));
    insertLayout->addWidget(inserts, 1);
    auto *adding = new QHBoxLayout();
    auto *buttons = new QHBoxLayout();
    auto *stockButton = smallButton(tr("+ Stock"), tr("Stock FX"), this);
    auto *stockMenu = new QMenu(stockButton);
    for (const char *id : stockInserts)
        stockMenu->addAction(viewText(stockEffectName(id)), [this, id] {
            addInsert(InsertChoice{true, id, {}});
        });
    stockButton->setMenu(stockMenu);
    vstButton = smallButton(tr("+ Plug-in"), tr("Find and insert VST 3 and LV2 plug-ins"), this);
    connect(vstButton, &QPushButton::clicked, this, [this] { (void)openPluginPicker(); });
    adding->addWidget(stockButton);
    adding->addWidget(vstButton);
    insertLayout->addLayout(adding);
    auto add = [&](const QString &text, const QString &tip, auto action) {
        auto *button = smallButton(text, tip, this);
        connect(button, &QPushButton::clicked, this, action);
        buttons->addWidget(button);
    };
    add(tr("Bypass"), tr("Bypass FX"), [this] { toggleInsertBypass(); });
    add(QStringLiteral("↑"), tr("Move Up"), [this] { moveInsert(-1); });
    add(QStringLiteral("↓"), tr("Move Down"), [this] { moveInsert(1); });
    add(QStringLiteral("✕"), tr("Remove"), [this] { removeInsert(); });
    // A button's failure is on the status line.
    add(tr("Editor"), tr("Open the plug-in's editor"),
        [this] { (void)openInsertEditor(embedEditor->isChecked()); });
    insertLayout->addLayout(buttons);
    effectPanel = new StockEffectPanel(insertPage);
    effectPanel->onEdited = [this](const std::vector<float> &values) {
        const int index = selectedInsert();
        if (index >= 0)
            execute(std::make_unique<SetStockEffectSettingsCommand>(selected, index, values));
    };
    effectPanel->onShowAutomation = [this](uint32_t parameter) { showEffectAutomation(parameter); };
    effectPanel->onControlMenu = [this](QMenu &menu, uint32_t parameter) {
        const int index = selectedInsert();
        if (selected == 0 || index < 0) return;
        addMidiLearnActions(menu, app,
                            controlTarget(selected,
                                          insertAutomationLane(static_cast<std::size_t>(index)),
                                          parameter));
    };
    insertLayout->addWidget(effectPanel);
    connect(inserts, &QListWidget::currentRowChanged, this, [this] { refreshEffectPanel(); });
    embedEditor = new QCheckBox(tr("Editor in the panel"), insertPage);
    insertLayout->addWidget(embedEditor);
    detailPages->addWidget(insertPage);
    mastering = new MasteringPanel(detailPages);
    mastering->onEdited = [this](const MasteringUtility &settings) {
        execute(std::make_unique<SetMasteringCommand>(settings));
    };
    detailPages->addWidget(mastering);
    detailLayout->addWidget(detailPages, 1);
    layout->addWidget(detail);

    editorPump = new QTimer(this);
    editorPump->setInterval(16);
    connect(editorPump, &QTimer::timeout, this, [this] { followOpenEditor(); });
    // What the user turns in an LV2 interface is an edit like one in the parameter window.
    lv2Editor.onEdited = [this](uint32_t id, float before, float after) {
        if (editorInsert >= 0) recordPluginEdit(editorTrack, editorInsert, id, before, after);
    };

    selected = app.view().selectedTrackId;
    projectChanged();
}

std::vector<uint64_t> MixerPanel::channelIds() const {
    std::vector<uint64_t> ids;
    for (const auto &track : app.engine().project.tracks)
        if (track->type != TrackType::Unused) ids.push_back(track->id);
    ids.push_back(0);
    return ids;
}

ChannelStrip *MixerPanel::makeStrip(StripKind kind, uint64_t trackId) {
    StripActions actions;
    actions.select = [this, trackId] { selectChannel(trackId); };
    if (kind == StripKind::Master) {
        actions.gain = [this](float gain) {
            ControlRoomSettings settings;
            {
                std::lock_guard lock(app.engine().projectMutex);
                settings = app.engine().project.controlRoom;
            }
            settings.masterGain = gain;
            execute(std::make_unique<SetControlRoomCommand>(settings));
        };
        return new ChannelStrip(kind, 0, std::move(actions), stripHost);
    }
    auto fader = [this, trackId](auto change) {
        std::shared_ptr<Track> track;
        {
            std::lock_guard lock(app.engine().projectMutex);
            track = app.engine().project.findTrack(trackId);
        }
        if (!track) return;
        TrackFaderState state{track->gain, track->pan, track->mute, track->solo};
        change(state);
        execute(std::make_unique<SetTrackMixerCommand>(trackId, state.gain, state.pan, state.mute,
                                                       state.solo));
    };
    actions.controlMenu = [this, trackId](int lane, QPoint at) {
        showMidiLearnMenu(this, app, controlTarget(trackId, lane), at);
    };
    actions.gain = [fader](float gain) { fader([gain](TrackFaderState &s) { s.gain = gain; }); };
    actions.pan = [fader](float pan) { fader([pan](TrackFaderState &s) { s.pan = pan; }); };
    actions.muteSolo = [fader](bool mute, bool solo) {
        fader([mute, solo](TrackFaderState &s) {
            s.mute = mute;
            s.solo = solo;
        });
    };
    actions.arm = [this, trackId](bool armed) {
        app.view().setTrackArmed(trackId, armed);
        refreshValues();
        if (onProjectEdited) onProjectEdited();
    };
    // The fader and pan write automation as the project's write mode asks.
    actions.dragBegan = [this, trackId] { app.view().automation().beginMixerDrag(trackId); };
    actions.dragMoved = [this, trackId](int lane, float value) {
        app.view().automation().mixerValueChanged(trackId, lane, value);
    };
    actions.dragEnded = [this, trackId] {
        float gain = 1.0f, pan = 0.0f;
        {
            std::lock_guard lock(app.engine().projectMutex);
            const auto track = app.engine().project.findTrack(trackId);
            if (!track) return;
            gain = track->gain;
            pan = track->pan;
        }
        if (app.view().automation().endMixerDrag(trackId, gain, pan)) refreshValues();
    };
    actions.send = [this, trackId](int slot, float level) {
        SendSlot send;
        {
            std::lock_guard lock(app.engine().projectMutex);
            const auto track = app.engine().project.findTrack(trackId);
            if (!track) return;
            send = track->sends[static_cast<std::size_t>(slot)];
            send.returnId = sendTarget(app.engine().project, *track, slot);
        }
        if (send.returnId == 0) {
            app.status().setText(tr("No return track for this send").toStdString());
            refreshValues();
            return;
        }
        send.level = level;
        execute(std::make_unique<SetTrackSendCommand>(trackId, slot, send));
        // Says where the send goes, which also clears a complaint about a missing return.
        std::string returnName;
        {
            std::lock_guard lock(app.engine().projectMutex);
            if (const auto target = app.engine().project.findTrack(send.returnId))
                returnName = target->name;
        }
        app.status().setText(tr("%1 → %2")
                                 .arg(sendText(slot, static_cast<int>(std::lround(level * 100.0f))),
                                      QString::fromStdString(returnName))
                                 .toStdString());
    };
    return new ChannelStrip(kind, trackId, std::move(actions), stripHost);
}

void MixerPanel::rebuildStrips() {
    for (ChannelStrip *strip : stripList)
        delete strip;
    stripList.clear();
    while (QLayoutItem *item = stripRow->takeAt(0))
        delete item;
    for (uint64_t id : shownIds) {
        StripKind kind = StripKind::Master;
        if (id != 0) {
            const auto track = app.engine().project.findTrack(id);
            kind = track->type == TrackType::Return ? StripKind::Return : StripKind::Track;
        }
        ChannelStrip *strip = makeStrip(kind, id);
        stripList.push_back(strip);
        (kind == StripKind::Master ? masterRow : stripRow)->addWidget(strip);
    }
    stripRow->addStretch(1);
}

ChannelStrip *MixerPanel::stripFor(uint64_t trackId) const {
    const auto found = std::find_if(stripList.begin(), stripList.end(), [&](ChannelStrip *strip) {
        return strip->trackId() == trackId;
    });
    return found == stripList.end() ? nullptr : *found;
}

void MixerPanel::projectChanged() {
    {
        std::lock_guard lock(app.engine().projectMutex);
        std::vector<uint64_t> ids = channelIds();
        if (ids != shownIds) {
            shownIds = std::move(ids);
            rebuildStrips();
        }
    }
    if (selected != 0 && !stripFor(selected)) selected = 0;
    refreshValues();
    refreshDetail();
    if (reopenRememberedEditor()) editorPump->start();
}

void MixerPanel::refreshValues() {
    std::lock_guard lock(app.engine().projectMutex);
    const Project &project = app.engine().project;
    for (ChannelStrip *strip : stripList) {
        strip->setSelected(strip->trackId() == selected);
        if (strip->kind() == StripKind::Master) {
            StripValues values;
            values.name = tr("Master").toStdString();
            values.color = 0xFF808890u;
            values.gain = project.controlRoom.masterGain;
            strip->setValues(values);
        } else if (const auto track = project.findTrack(strip->trackId())) {
            strip->setValues(shownValuesOf(*track, app.engine().heardPlayhead()));
        }
    }
}

QLayout *MixerPanel::buildMacroRow(QWidget *parent) {
    auto *row = new QHBoxLayout();
    row->addWidget(new QLabel(tr("Macros"), parent));
    for (int32_t index = 0; index < static_cast<int32_t>(macroDials.size()); ++index) {
        auto *dial = new QDial(parent);
        dial->setRange(0, 1000);
        dial->setFixedSize(40, 40);
        dial->setNotchesVisible(true);
        dial->setToolTip(tr("Macro %1").arg(index + 1));
        commitOnRelease(dial, this, [this, index](int value) {
            if (selected != 0)
                execute(std::make_unique<SetTrackMacroCommand>(
                    selected, index, static_cast<float>(value) / 1000.0f));
        });
        macroDials[static_cast<std::size_t>(index)] = dial;
        row->addWidget(dial);
    }
    row->addStretch(1);
    return row;
}

QPushButton *MixerPanel::buildSnapshotButton(QWidget *parent) {
    auto *button = smallButton(tr("Snapshots"), tr("Capture and recall the whole mix"), parent);
    auto *menu = new QMenu(button);
    // Built when opened: snapshots and history belong to the project.
    connect(menu, &QMenu::aboutToShow, this, [this, menu] {
        menu->clear();
        menu->addAction(tr("Capture Snapshot…"), this, [this] {
            bool ok = false;
            const QString name = QInputDialog::getText(this, tr("Capture Snapshot"),
                                                       tr("Snapshot name:"), QLineEdit::Normal,
                                                       tr("Mix %1").arg(snapshotCount() + 1), &ok);
            if (ok && !name.trimmed().isEmpty())
                execute(
                    std::make_unique<CaptureMixerSnapshotCommand>(name.trimmed().toStdString()));
        });
        std::vector<std::string> snapshots, history;
        {
            std::lock_guard lock(app.engine().projectMutex);
            for (const auto &snapshot : app.engine().project.mixerSnapshots)
                snapshots.push_back(snapshot.name);
            for (const auto &event : app.engine().project.mixerSnapshotHistory)
                history.push_back(event.label);
        }
        QMenu *recall = menu->addMenu(tr("Recall Snapshot"));
        recall->setEnabled(!snapshots.empty());
        for (std::size_t index = 0; index < snapshots.size(); ++index)
            recall->addAction(QString::fromStdString(snapshots[index]), this, [this, index] {
                execute(std::make_unique<RecallMixerSnapshotCommand>(index));
            });
        QMenu *past = menu->addMenu(tr("Mixer History"));
        past->setEnabled(!history.empty());
        // Newest first, as a history is read.
        for (std::size_t index = history.size(); index-- > 0;)
            past->addAction(QString::fromStdString(history[index]), this, [this, index] {
                execute(std::make_unique<RecallMixerHistoryCommand>(index));
            });
    });
    button->setMenu(menu);
    return button;
}

std::size_t MixerPanel::snapshotCount() const {
    std::lock_guard lock(app.engine().projectMutex);
    return app.engine().project.mixerSnapshots.size();
}

void MixerPanel::refreshDetail() {
    std::lock_guard lock(app.engine().projectMutex);
    const Project &project = app.engine().project;
    const auto track = selected == 0 ? nullptr : project.findTrack(selected);
    const ChannelEq8 &eq = track ? track->eq : project.masterEq;
    detailTitle->setText(track ? QString::fromStdString(track->name) : tr("Master"));
    {
        const QSignalBlocker blocker(eqOn);
        eqOn->setChecked(eq.enabled);
    }
    eqCurve->setEq(eq, project.sampleRate);
    detailPages->setCurrentIndex(track ? 0 : 1);
    mastering->setSettings(project.mastering);
    for (std::size_t index = 0; index < macroDials.size(); ++index) {
        const QSignalBlocker blocker(macroDials[index]);
        macroDials[index]->setValue(
            track ? static_cast<int>(std::lround(track->macros[index] * 1000.0f)) : 500);
    }
    const int row = inserts->currentRow();
    inserts->clear();
    if (!track) return;
    for (std::size_t index = 0; index < track->inserts.size(); ++index) {
        const InsertSlot &insert = track->inserts[index];
        const auto at = static_cast<int32_t>(index);
        QString label = insertLabel(insert) + (insert.bypassed ? tr("  [bypass]") : QString());
        // Isolation is the rule, so the exceptions are what the list points out.
        if (!insert.isStock && !app.rack().runsInHelperLocked(track.get(), &insert))
            label += tr("  [in process]");
        if (!insert.isStock && !app.rack().insertAvailable(selected, at))
            label += tr("  [not loaded]");
        else if (app.rack().insertFailed(selected, at))
            label += tr("  [failed]");
        inserts->addItem(label);
        if (loadTrack == selected && index < loadTips.size())
            inserts->item(inserts->count() - 1)->setToolTip(loadTips[index]);
    }
    inserts->setCurrentRow(std::min(row, inserts->count() - 1));
    refreshEffectPanel();
}

void MixerPanel::refreshEffectPanel() {
    std::lock_guard lock(app.engine().projectMutex);
    const auto track = selected == 0 ? nullptr : app.engine().project.findTrack(selected);
    const int index = selectedInsert();
    effectPanel->showInsert(track && index >= 0 && index < static_cast<int>(track->inserts.size())
                                ? &track->inserts[static_cast<std::size_t>(index)]
                                : nullptr);
}

void MixerPanel::selectChannel(uint64_t trackId) {
    selected = trackId;
    if (trackId != 0) app.view().selectedTrackId = trackId;
    for (ChannelStrip *strip : stripList)
        strip->setSelected(strip->trackId() == selected);
    refreshDetail();
}

void MixerPanel::onTick() {
    // Another tab may have selected a track since.
    const uint64_t viewSelection = app.view().selectedTrackId;
    if (selected != 0 && viewSelection != selected && stripFor(viewSelection))
        selectChannel(viewSelection);
    // A learned controller moved a value, or a mapping was learned or removed.
    const uint64_t learned = app.view().midiLearning().changes();
    if (learned != learningSeen) {
        learningSeen = learned;
        refreshValues();
        refreshDetail();
    }
    if (!isVisible()) return;
    showInsertLoads();
    const bool running =
        app.engine().transport.playing.load() || app.engine().transport.recording.load();
    std::lock_guard lock(app.engine().projectMutex);
    const Project &project = app.engine().project;
    for (ChannelStrip *strip : stripList) {
        if (strip->kind() == StripKind::Master) {
            strip->setPeaks(app.engine().masterMeters.peakL.load(),
                            app.engine().masterMeters.peakR.load(), running);
        } else if (const auto track = project.findTrack(strip->trackId())) {
            strip->setPeaks(track->peakL, track->peakR, running);
            if (hasMixerAutomation(*track))
                strip->setValues(shownValuesOf(*track, app.engine().heardPlayhead()));
        }
    }
    followEffectAutomation(project);
}

// About once a second: a shorter stretch would flicker, a longer one hide a spike.
void MixerPanel::showInsertLoads() {
    if (++loadTicks < 30) return;
    loadTicks = 0;
    if (loadTrack != selected) loadTips.clear();
    loadTrack = selected;
    if (selected == 0) return;
    loadTips.resize(static_cast<std::size_t>(inserts->count()));
    for (const vst::InsertLoadReport &report : app.rack().insertLoads()) {
        if (report.trackId != selected || report.insertIndex < 0 ||
            report.insertIndex >= inserts->count())
            continue;
        const QString tip = insertLoadText(report.load);
        if (tip.isEmpty()) continue;
        loadTips[static_cast<std::size_t>(report.insertIndex)] = tip;
        inserts->item(report.insertIndex)->setToolTip(tip);
    }
}

void MixerPanel::followEffectAutomation(const Project &project) {
    if (!effectPanel->isVisible()) return;
    const auto track = selected == 0 ? nullptr : project.findTrack(selected);
    const int index = selectedInsert();
    if (!track || index < 0 || index >= static_cast<int>(track->inserts.size())) return;
    effectPanel->followAutomation(track->inserts[static_cast<std::size_t>(index)],
                                  app.engine().heardPlayhead());
}

void MixerPanel::execute(std::unique_ptr<Command> command) {
    app.view().executeEdit(std::move(command));
    refreshValues();
    refreshDetail();
    if (onProjectEdited) onProjectEdited();
}

void MixerPanel::showEffectAutomation(uint32_t parameter) {
    const int index = selectedInsert();
    if (index < 0) return;
    QString laneName;
    {
        std::lock_guard lock(app.engine().projectMutex);
        const auto track = app.engine().project.findTrack(selected);
        if (!track || static_cast<std::size_t>(index) >= track->inserts.size()) return;
        laneName = stockLaneName(track->inserts[static_cast<std::size_t>(index)], parameter);
    }
    if (!laneName.isEmpty()) showInsertLaneOn(selected, index, parameter, laneName);
}

void MixerPanel::automateInsertParameter(uint64_t trackId, int index, uint32_t key) {
    QString laneName;
    if (parameterWindow) {
        const int row = parameterWindow->rowWithKey(key);
        if (row >= 0) laneName = QString::fromStdString(parameterWindow->row(row).name);
        parameterWindow->showAutomated(key);
    }
    showInsertLaneOn(trackId, index, automatedParameterOfKey(trackId, index, key), laneName);
}

// The insert's one lane drives one parameter at a time: choosing another is an edit, and the
// timeline shows the lane.
void MixerPanel::showInsertLaneOn(uint64_t trackId, int index, uint32_t parameter,
                                  const QString &laneName) {
    const auto insertIndex = static_cast<std::size_t>(index);
    bool chosen = false;
    {
        std::lock_guard lock(app.engine().projectMutex);
        const auto track = app.engine().project.findTrack(trackId);
        if (!track || insertIndex >= track->inserts.size()) return;
        chosen = track->inserts[insertIndex].automParamId == parameter;
    }
    if (!chosen)
        execute(
            std::make_unique<SetInsertAutomationParameterCommand>(trackId, insertIndex, parameter));
    app.view().selectedTrackId = trackId;
    app.view().automation().showInsertLane(insertIndex, laneName.toStdString());
    if (onAutomationShown) onAutomationShown();
}

int MixerPanel::selectedInsert() const { return selected == 0 ? -1 : inserts->currentRow(); }

void MixerPanel::addInsert(const InsertChoice &choice) {
    if (selected == 0) {
        app.status().setText(tr("Choose a track to insert the effect on").toStdString());
        return;
    }
    if (!executeAddInsert(app, selected, choice)) return;
    refreshValues();
    refreshDetail();
    inserts->setCurrentRow(inserts->count() - 1);
}

PluginPicker *MixerPanel::openPluginPicker() {
    if (selected == 0) {
        app.status().setText(tr("Choose a track to insert the effect on").toStdString());
        return nullptr;
    }
    if (app.rack().plugins.empty()) {
        app.status().setText(tr("No plug-ins found yet: scan them in the Browser").toStdString());
        return nullptr;
    }
    if (picker) picker->close();
    picker = new PluginPicker(app.rack().plugins, this);
    picker->setAttribute(Qt::WA_DeleteOnClose);
    picker->onInsert = [this](const vst::PluginDescription &plugin) {
        if (!executeAddInsert(app, selected, InsertChoice{false, plugin.uid, plugin.path}))
            return false;
        refreshValues();
        refreshDetail();
        inserts->setCurrentRow(inserts->count() - 1);
        return true;
    };
    picker->show();
    return picker;
}

void MixerPanel::toggleInsertBypass() {
    const int index = selectedInsert();
    if (index >= 0) execute(std::make_unique<ToggleInsertBypassCommand>(selected, index));
}

void MixerPanel::moveInsert(int offset) {
    const int index = selectedInsert();
    if (index < 0 || index + offset < 0 || index + offset >= inserts->count()) return;
    execute(std::make_unique<MoveInsertCommand>(selected, index, offset));
    inserts->setCurrentRow(index + offset);
}

void MixerPanel::removeInsert() {
    const int index = selectedInsert();
    if (index < 0) return;
    closeInsertEditor();
    execute(std::make_unique<RemoveInsertCommand>(selected, index));
}

namespace {
/// The live plug-in of an insert whose editor the plug-in itself opens, if the rack holds one
/// (call with `slotsMutex` held). An LV2 plug-in in process shows its interface here instead.
vst::Plugin *insertPlugin(vst::PluginRack &rack, uint64_t trackId, int index) {
    for (vst::Slot &slot : rack.slots)
        if (slot.trackId == trackId && slot.insertIndex == index && slot.plugin && !slot.lv2Plugin)
            return slot.plugin.get();
    return nullptr;
}
} // namespace

bool MixerPanel::openInsertEditor(bool embedded) {
    const int index = selectedInsert();
    if (index < 0) return false;
    closeInsertEditor();
    if (bool opened = false; openEditorOtherwise(index, embedded, opened)) return opened;
    if (!app.rack().openEditor(selected, index)) {
        app.status().setText(tr("This effect has no editor window").toStdString());
        return false;
    }
    editorTrack = selected;
    editorInsert = index;
    editorInHelper = insertRunsInHelper(app.rack(), selected, index);
    editorInstance = insertInstance(app.rack(), selected, index);
    editorKnownValues.clear();
    if (!editorInHelper) {
        std::lock_guard lock(app.rack().slotsMutex);
        if (vst::Plugin *plugin = insertPlugin(app.rack(), selected, index))
            for (const vst::PluginParameterInfo &info : plugin->listParameters())
                editorKnownValues[info.id] = info.normalizedValue;
    }
    rememberEditorOpen(selected, index, true);
    editorPump->start();
    if (embedded) embedOpenEditor();
    return true;
}

const void *MixerPanel::insertInstance(vst::PluginRack &rack, uint64_t trackId, int index) {
    std::lock_guard lock(rack.slotsMutex);
    for (const vst::Slot &slot : rack.slots)
        if (slot.trackId == trackId && slot.insertIndex == index && slot.plugin)
            return slot.plugin.get();
    return nullptr;
}

bool MixerPanel::insertRunsInHelper(vst::PluginRack &rack, uint64_t trackId, int index) {
    std::lock_guard lock(rack.slotsMutex);
    for (const vst::Slot &slot : rack.slots)
        if (slot.trackId == trackId && slot.insertIndex == index && slot.plugin)
            return slot.sandboxed || slot.group;
    return false;
}

void MixerPanel::rememberEditorOpen(uint64_t trackId, int index, bool open) {
    std::lock_guard lock(app.engine().projectMutex);
    const auto track = app.engine().project.findTrack(trackId);
    if (track && index >= 0 && index < static_cast<int>(track->inserts.size()))
        track->inserts[static_cast<std::size_t>(index)].editorOpen = open;
}

// The windows name an LV2 plug-in's controls in the program by their place in its list, where
// its lane names them by their port, as for a plug-in anywhere else.
uint32_t MixerPanel::automatedParameterOfKey(uint64_t trackId, int index, uint32_t key) {
    lv2::Lv2Plugin *inProgram = app.rack().lv2PluginAt(trackId, index);
    return inProgram && key < inProgram->parameters.size() ? inProgram->parameters[key].portIndex
                                                           : key;
}

std::optional<uint32_t> MixerPanel::keyOfAutomatedParameter(uint64_t trackId, int index,
                                                            uint32_t automated) {
    lv2::Lv2Plugin *inProgram = app.rack().lv2PluginAt(trackId, index);
    if (!inProgram) return automated;
    const int key = inProgram->parameterIndexForPort(automated);
    return key < 0 ? std::nullopt : std::optional<uint32_t>(static_cast<uint32_t>(key));
}

void MixerPanel::recordPluginEdit(uint64_t trackId, int index, uint32_t id, float before,
                                  float after) {
    execute(std::make_unique<SetPluginParameterCommand>(trackId, index, id, before, after));
    // The insert's parameter lane, when it watches this parameter and is in use (it has
    // points, or the timeline shows it), follows the window's control as a fader's lane does.
    const int32_t lane = insertAutomationLane(static_cast<std::size_t>(index));
    const uint32_t automated = automatedParameterOfKey(trackId, index, id);
    bool watched = false;
    AutomationWriteMode mode = AutomationWriteMode::Read;
    {
        std::lock_guard lock(app.engine().projectMutex);
        const auto track = app.engine().project.findTrack(trackId);
        if (track && index < static_cast<int>(track->inserts.size())) {
            const InsertSlot &insert = track->inserts[static_cast<std::size_t>(index)];
            watched = !insert.isStock && insert.automParamId == automated &&
                      (!insert.paramAutomation.empty() ||
                       app.view().automation().automationLaneMode == lane + 1);
        }
        mode = app.engine().project.automationWriteMode;
    }
    if (watched && HVWriteMixerAutomationIfNeeded(app.engine().project, &app.engine(),
                                                  &app.commands(), trackId, lane, after, mode,
                                                  app.view().automation().automationLatchTrackId))
        refreshValues();
}

void MixerPanel::followOpenEditor() {
    vst::runEditorEvents(0);
    lv2Editor.idle();
    if (editorInsert < 0) {
        // A remembered window waits until its plug-in is made again (loaded with a project,
        // or moved between the program and a helper), which may take a while.
        if (!reopenRememberedEditor() && editorInsert < 0) editorPump->stop();
        return;
    }
    // The plug-in went from under its window (another project came, or it moved between the
    // program and a helper): the window goes, and what the project remembers stays, so that
    // the window opens again on what came instead.
    if (insertInstance(app.rack(), editorTrack, editorInsert) != editorInstance) {
        closeInsertEditor(false);
        if (reopenRememberedEditor()) editorPump->start();
        return;
    }
    std::string ending;
    if (editorInHelper) {
        std::vector<vst::ParameterValue> edits;
        const vst::EditorStatus status = app.rack().pollEditor(editorTrack, editorInsert, edits);
        for (const vst::ParameterValue &edit : edits) {
            float before = edit.value;
            {
                std::lock_guard lock(app.rack().slotsMutex);
                if (vst::Plugin *plugin = insertPlugin(app.rack(), editorTrack, editorInsert))
                    before = plugin->getParameterNormalized(edit.id);
            }
            if (before != edit.value)
                recordPluginEdit(editorTrack, editorInsert, edit.id, before, edit.value);
        }
        if (status == vst::EditorStatus::open) return;
        ending = status == vst::EditorStatus::crashed ? "crashed" : "closed";
    } else {
        // The user may close the editor with its window's own close button; a VST 3's
        // window closes when asked here. What the user turned there is an edit of the song.
        std::vector<vst::ParameterValue> edits;
        (void)app.rack().pollEditor(editorTrack, editorInsert, edits);
        recordInProcessEditorEdits(edits);
        // An interface in its own process has no window to show until the process reports
        // it; the editor is open for as long as that process runs.
        if (editorWindowId() != 0 || lv2Editor.isOpen()) return;
        ending = lv2Editor.lastClosing();
    }
    closeInsertEditor();
    if (ending == "crashed")
        app.status().setText(
            tr("The plug-in's window crashed and was closed; the plug-in plays on").toStdString());
}

void MixerPanel::recordInProcessEditorEdits(const std::vector<vst::ParameterValue> &edits) {
    for (const vst::ParameterValue &edit : edits) {
        const auto known = editorKnownValues.find(edit.id);
        const float before = known == editorKnownValues.end() ? edit.value : known->second;
        editorKnownValues[edit.id] = edit.value;
        if (before != edit.value)
            recordPluginEdit(editorTrack, editorInsert, edit.id, before, edit.value);
    }
}

bool MixerPanel::reopenRememberedEditor() {
    if (editorInsert >= 0) return false;
    uint64_t trackId = 0;
    int index = -1;
    {
        std::lock_guard lock(app.engine().projectMutex);
        for (const auto &track : app.engine().project.tracks) {
            for (std::size_t at = 0; at < track->inserts.size() && index < 0; ++at)
                if (track->inserts[at].editorOpen) {
                    trackId = track->id;
                    index = static_cast<int>(at);
                }
            if (index >= 0) break;
        }
    }
    if (index < 0) return false;
    {
        // Not yet: the rack makes the project's plug-ins after the project arrives.
        std::lock_guard lock(app.rack().slotsMutex);
        if (std::none_of(
                app.rack().slots.begin(), app.rack().slots.end(), [&](const vst::Slot &slot) {
                    return slot.trackId == trackId && slot.insertIndex == index && slot.plugin;
                }))
            return true;
    }
    selected = trackId;
    refreshValues();
    refreshDetail();
    inserts->setCurrentRow(index);
    const bool opened = openInsertEditor() && editorInsert >= 0;
    // A window that cannot open again is not asked for at every change of the project.
    if (!opened) rememberEditorOpen(trackId, index, false);
    return false;
}

void MixerPanel::embedOpenEditor() {
    const unsigned long id = editorWindowId();
    if (id == 0) return;
    editorWindow = QWindow::fromWinId(static_cast<WId>(id));
    if (!editorWindow) return;
    const QSize size = editorWindow->size().expandedTo(QSize(400, 300));
    editorContainer = QWidget::createWindowContainer(editorWindow, this);
    editorContainer->setMinimumSize(size);
    detailLayout->addWidget(editorContainer);
    editorContainer->show();
}

void MixerPanel::releaseEmbeddedEditor() {
    if (!editorContainer) return;
    // The plug-in destroys its window itself: hand it back to the desktop first, so that
    // taking the holder away does not take the window with it.
    editorWindow->setParent(nullptr);
    editorWindow = nullptr;
    delete editorContainer;
    editorContainer = nullptr;
}

void MixerPanel::closeInsertEditor(bool forget) {
    if (editorInsert < 0) return;
    releaseEmbeddedEditor();
    lv2Editor.close();
    // In the insert's helper too, a group's member included.
    if (insertInstance(app.rack(), editorTrack, editorInsert) == editorInstance)
        app.rack().closeEditor(editorTrack, editorInsert);
    if (forget) rememberEditorOpen(editorTrack, editorInsert, false);
    editorInHelper = false;
    editorInstance = nullptr;
    editorInsert = -1;
    editorTrack = 0;
    editorPump->stop();
}

unsigned long MixerPanel::editorWindowId() {
    if (editorInsert < 0) return 0;
    if (const unsigned long lv2Window = lv2Editor.windowId()) return lv2Window;
    std::lock_guard lock(app.rack().slotsMutex);
    // A sandboxed plug-in's editor is a window of its helper's, which is not embedded.
    auto *inProcess =
        dynamic_cast<vst::Vst3Plugin *>(insertPlugin(app.rack(), editorTrack, editorInsert));
    return inProcess ? inProcess->editorWindowId() : 0;
}

void MixerPanel::showInsertMenu(const QPoint &at) {
    QListWidgetItem *item = inserts->itemAt(at);
    if (!item) return;
    inserts->setCurrentItem(item);
    QMenu menu(this);
    QAction *parameters = menu.addAction(QCoreApplication::translate("MixerPanel", "Parameters…"),
                                         [this] { (void)openParameterPanel(); });
    parameters->setEnabled(parameterSourceFor(app.rack(), selected, selectedInsert()) != nullptr);
    // The plug-in's own window, open or closed from its slot as from its title bar.
    const int index = selectedInsert();
    const bool shown = editorInsert >= 0 && editorTrack == selected && editorInsert == index;
    QAction *window = menu.addAction(tr("Plug-in Window"), [this, shown] {
        if (shown)
            closeInsertEditor();
        else
            (void)openInsertEditor(embedEditor->isChecked());
    });
    window->setObjectName(QStringLiteral("pluginWindow"));
    window->setCheckable(true);
    window->setChecked(shown);
    window->setEnabled(parameters->isEnabled());
    addProcessChoices(menu);
    menu.exec(inserts->viewport()->mapToGlobal(at));
}

// A plug-in runs in a helper, where its crash cannot end the program, unless the user keeps
// it here: this insert alone, or every plug-in of the track.
void MixerPanel::addProcessChoices(QMenu &menu) {
    const int index = selectedInsert();
    bool stock = true, insertInProcess = false, trackInProcess = false;
    {
        std::lock_guard lock(app.engine().projectMutex);
        const auto track = app.engine().project.findTrack(selected);
        if (!track || index < 0 || index >= static_cast<int>(track->inserts.size())) return;
        const InsertSlot &insert = track->inserts[static_cast<std::size_t>(index)];
        stock = insert.isStock;
        insertInProcess = insert.inProcess;
        trackInProcess = track->pluginsInProcess;
    }
    menu.addSeparator();
    QAction *one = menu.addAction(tr("Run in Process"), [this, index, insertInProcess] {
        execute(std::make_unique<SetPluginsInProcessCommand>(selected, index, !insertInProcess));
    });
    one->setCheckable(true);
    one->setChecked(insertInProcess);
    one->setEnabled(!stock && app.rack().sandboxEnabled);
    QAction *all =
        menu.addAction(tr("Run the Track's Plug-ins in Process"), [this, trackInProcess] {
            execute(std::make_unique<SetPluginsInProcessCommand>(selected, -1, !trackInProcess));
        });
    all->setCheckable(true);
    all->setChecked(trackInProcess);
    all->setEnabled(app.rack().sandboxEnabled);
}

bool MixerPanel::openParameterPanel() {
    const int index = selectedInsert();
    if (index < 0) return false;
    std::unique_ptr<ParameterSource> source = parameterSourceFor(app.rack(), selected, index);
    if (!source) return false;
    if (parameterWindow) parameterWindow->close();
    parameterWindow = new PluginParameterPanel(std::move(source), this);
    const uint64_t trackId = selected;
    parameterWindow->onControlMenu = [this, trackId, index](uint32_t key, QPoint at) {
        showMidiLearnMenu(
            parameterWindow, app,
            controlTarget(trackId, insertAutomationLane(static_cast<std::size_t>(index)), key), at);
    };
    // As a turn in the plug-in's own window: an edit, and the lane's point when it is written.
    parameterWindow->onEdited = [this, trackId, index](uint32_t key, float before, float after) {
        recordPluginEdit(trackId, index, key, before, after);
    };
    std::string pluginId;
    uint32_t automated = 0;
    {
        std::lock_guard lock(app.engine().projectMutex);
        if (const auto track = app.engine().project.findTrack(trackId);
            track && index < static_cast<int>(track->inserts.size())) {
            pluginId = track->inserts[static_cast<std::size_t>(index)].pluginId;
            automated = track->inserts[static_cast<std::size_t>(index)].automParamId;
        }
    }
    parameterWindow->onAutomate = [this, trackId, index](uint32_t key) {
        automateInsertParameter(trackId, index, key);
    };
    parameterWindow->showAutomated(keyOfAutomatedParameter(trackId, index, automated));
    parameterWindow->onPresetChosen = [this, trackId, index, pluginId](std::vector<uint8_t> state) {
        execute(
            std::make_unique<LoadPluginPresetCommand>(trackId, index, pluginId, std::move(state)));
    };
    parameterWindow->onUndo = [this] {
        app.view().undoEdit();
        refreshValues();
        refreshDetail();
    };
    parameterWindow->onRedo = [this] {
        app.view().redoEdit();
        refreshValues();
        refreshDetail();
    };
    parameterWindow->show();
    return true;
}

bool MixerPanel::openEditorOtherwise(int index, bool embedded, bool &opened) {
    if (std::shared_ptr<lv2::Lv2Plugin> plugin =
            Lv2InsertEditor::pluginOf(app.rack(), selected, index)) {
        opened = lv2Editor.open(std::move(plugin));
        if (!opened) return (opened = openParameterPanel());
        editorTrack = selected;
        editorInsert = index;
        editorInHelper = false;
        editorInstance = insertInstance(app.rack(), selected, index);
        rememberEditorOpen(selected, index, true);
        editorPump->start();
        if (embedded) embedOpenEditor();
        return true;
    }
    bool withoutEditor = false;
    {
        std::lock_guard lock(app.rack().slotsMutex);
        vst::Plugin *plugin = insertPlugin(app.rack(), selected, index);
        withoutEditor = plugin && !plugin->hasEditor();
    }
    if (!withoutEditor) return false;
    opened = openParameterPanel();
    return true;
}

WorkspacePanel *createMixerPanel(OVApplication &application, QWidget *parent) {
    return new MixerPanel(application, parent);
}

} // namespace orvane
