#pragma once

#include "app/window/ChannelStrip.h"
#include "app/window/EqCurveView.h"
#include "app/window/Lv2InsertEditor.h"
#include "app/window/MasteringPanel.h"
#include "app/window/PanelCommands.h"
#include "app/window/PluginParameterPanel.h"
#include "app/window/PluginPicker.h"
#include "app/window/WorkspacePanels.h"
#include "core/commands/Command.h"
#include "core/plugins/Plugin.h"

#include <QPointer>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

class QCheckBox;
class QDial;
class QLayout;
class QHBoxLayout;
class QLabel;
class QListWidget;
class QMenu;
class QPushButton;
class QVBoxLayout;
class QStackedWidget;
class QTimer;
class QWindow;

namespace orvane {

class StockEffectPanel;

/// The mixer tab: a strip per track and return and the master, with the selected channel's
/// EQ, its insert list (or, for the master, the mastering panel) beside them. Meters follow
/// the engine at every tick; every edit goes through the command stack.
class MixerPanel : public WorkspacePanel {
    Q_OBJECT

  public:
    MixerPanel(OVApplication &application, QWidget *parent);
    void onTick() override;
    void projectChanged() override;

    const std::vector<ChannelStrip *> &strips() const { return stripList; }
    ChannelStrip *stripFor(uint64_t trackId) const;
    /// 0 selects the master.
    void selectChannel(uint64_t trackId);
    uint64_t selectedChannel() const { return selected; }
    EqCurveView *eqView() const { return eqCurve; }
    QListWidget *insertList() const { return inserts; }
    /// The settings of the selected built-in insert.
    StockEffectPanel *effectSettings() const { return effectPanel; }
    MasteringPanel *masteringPanel() const { return mastering; }

    /// Called once the selected built-in insert's parameter lane was chosen for the timeline
    /// (from the effect panel's "Show Automation"), so that the window can show it.
    std::function<void()> onAutomationShown;

    /// The insert actions of the buttons, for the selected track's selected insert.
    void addInsert(const InsertChoice &choice);
    void toggleInsertBypass();
    void moveInsert(int offset);
    void removeInsert();
    /// Opens the selected insert's editor, in a window of its own or, with `embedded`, inside
    /// the panel under the insert list.
    [[nodiscard]] bool openInsertEditor(bool embedded = false);
    /// The panel's holder of an embedded editor, null while none is embedded.
    QWidget *embeddedEditor() const { return editorContainer; }
    /// Closes the open insert's window; unless `forget` is false, the project then remembers
    /// it closed.
    void closeInsertEditor(bool forget = true);
    /// Whether an insert's own window is open (in this process or in its helper).
    bool insertEditorOpen() const { return editorInsert >= 0; }
    /// X11 id of the editor window the panel opened, 0 when none is open.
    unsigned long editorWindowId();
    /// Opens the generic parameter window of the selected plug-in insert (closing one open
    /// for another insert); false for a built-in insert or none.
    [[nodiscard]] bool openParameterPanel();
    /// The open parameter window, null when none is open.
    PluginParameterPanel *parameterPanel() const { return parameterWindow.data(); }
    /// Opens the plug-in picker for the chosen track ("+ Plug-in"); null, with the reason on
    /// the status line, when there is no track or nothing scanned to pick from.
    PluginPicker *openPluginPicker();
    PluginPicker *pluginPicker() const { return picker.data(); }

  private:
    void rebuildStrips();
    QLayout *buildMacroRow(QWidget *parent);
    QPushButton *buildSnapshotButton(QWidget *parent);
    std::size_t snapshotCount() const;
    ChannelStrip *makeStrip(StripKind kind, uint64_t trackId);
    void refreshValues();
    /// The effect panel's automated setting moved to where the playhead is (project lock held).
    void followEffectAutomation(const Project &project);
    void refreshDetail();
    void refreshEffectPanel();
    void showEffectAutomation(uint32_t parameter);
    void automateInsertParameter(uint64_t trackId, int index, uint32_t key);
    void showInsertLaneOn(uint64_t trackId, int index, uint32_t parameter, const QString &laneName);
    /// The parameter an insert's lane names for the windows' key `key`, and back.
    uint32_t automatedParameterOfKey(uint64_t trackId, int index, uint32_t key);
    std::optional<uint32_t> keyOfAutomatedParameter(uint64_t trackId, int index,
                                                    uint32_t automated);
    void execute(std::unique_ptr<Command> command);
    int selectedInsert() const;
    void embedOpenEditor();
    void releaseEmbeddedEditor();
    void showInsertMenu(const QPoint &at);
    void addProcessChoices(QMenu &menu);
    /// The selected insert's editor when it has none of its own: true when it was handled.
    [[nodiscard]] bool openEditorOtherwise(int index, bool embedded, bool &opened);
    static bool insertRunsInHelper(vst::PluginRack &rack, uint64_t trackId, int index);
    /// The rack's instance of the insert, only to be compared; null when there is none.
    static const void *insertInstance(vst::PluginRack &rack, uint64_t trackId, int index);
    /// Keeps whether the insert's window is open in the project, which saves it.
    void rememberEditorOpen(uint64_t trackId, int index, bool open);
    /// A control the user moved in a plug-in's own window: an edit, as in the parameter window,
    /// and a point of the insert's parameter lane when the write mode asks for one.
    void recordPluginEdit(uint64_t trackId, int index, uint32_t id, float before, float after);
    /// On the editor's timer: lets it run, records what the user turned in it, and notices
    /// when it closed (by the user, or with the process that showed it).
    void followOpenEditor();
    /// Opens again the window a project was saved with open, once its plug-in is there; true
    /// while such a window still waits for its plug-in.
    bool reopenRememberedEditor();
    void recordInProcessEditorEdits(const std::vector<vst::ParameterValue> &edits);
    std::vector<uint64_t> channelIds() const;

    OVApplication &app;
    std::vector<ChannelStrip *> stripList;
    std::vector<uint64_t> shownIds;
    QHBoxLayout *stripRow = nullptr;
    QWidget *stripHost = nullptr;
    /// The master strip stays in sight beside the scrolled strips, however many tracks.
    QHBoxLayout *masterRow = nullptr;
    uint64_t selected = 0;
    bool selectionFromView = true;

    QLabel *detailTitle = nullptr;
    std::array<QDial *, 4> macroDials{};
    EqCurveView *eqCurve = nullptr;
    QCheckBox *eqOn = nullptr;
    QStackedWidget *detailPages = nullptr;
    QListWidget *inserts = nullptr;
    StockEffectPanel *effectPanel = nullptr;
    QPushButton *vstButton = nullptr;
    MasteringPanel *mastering = nullptr;
    /// Lets an open editor redraw and react, between the window's own events.
    QTimer *editorPump = nullptr;
    QCheckBox *embedEditor = nullptr;
    QWidget *editorContainer = nullptr;
    QWindow *editorWindow = nullptr;
    QVBoxLayout *detailLayout = nullptr;
    uint64_t editorTrack = 0;
    int editorInsert = -1;
    /// Whether the open editor is a window of the insert's helper.
    bool editorInHelper = false;
    /// The instance whose window is open, to notice when the insert gets another.
    const void *editorInstance = nullptr;
    /// What the program last knew of each parameter of a VST 3 editor in this process: the
    /// plug-in takes a turn in its window at once, so the undo step starts from here.
    std::unordered_map<uint32_t, float> editorKnownValues;
    Lv2InsertEditor lv2Editor;
    QPointer<PluginParameterPanel> parameterWindow;
    QPointer<PluginPicker> picker;
    /// `MidiLearning::changes` when the panel last followed them.
    uint64_t learningSeen = 0;
    /// Each insert's processing time over the last second, as its tooltip says it, for the
    /// track `loadTrack`.
    void showInsertLoads();
    std::vector<QString> loadTips;
    uint64_t loadTrack = 0;
    int loadTicks = 0;
};

} // namespace orvane
