#pragma once

#include "app/window/PeakCache.h"
#include "app/window/TimelineGeometry.h"

#include "app/shell/OVMainView.h"

#include <QWidget>

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

class QLineEdit;
class QMenu;
class QScrollBar;

namespace orvane {

class Command;
class LongJobRunner;
class OVApplication;

/// The arrangement: track headers, the ruler, clips with waveforms and note previews, and
/// the playhead. Edits go through the application's command stack; the view reads the
/// project under the engine's project lock and the transport's atomics.
class TimelineView : public QWidget {
    Q_OBJECT
  public:
    explicit TimelineView(OVApplication &application, QWidget *parent = nullptr);
    /// The name of the shown lane in `track`'s header: for a plug-in's lane, the plug-in's
    /// name and the parameter's (call with the project lock held).
    QString shownLaneName(const Track &track) const;

    /// Called from the window's tick: playhead, follow, finished waveforms.
    void onTick();
    /// Keep the view on the playhead while playing.
    bool followPlayhead = true;

    const TimelineGeometry &timelineGeometry() const { return layout; }
    /// Where the clip is drawn now; empty when it is not on the timeline.
    QRectF clipRectOf(uint64_t clipId) const;
    /// The row of a track; none when the timeline does not show it.
    std::optional<TrackRow> rowOf(uint64_t trackId) const;
    /// The playhead's x in the view.
    double playheadX() const;
    PeakCache &peaks() { return peakCache; }
    /// Shows `beats` of time across the clip area, keeping the left edge.
    void setVisibleBeats(double beats);
    void zoomBy(double factor, double anchorX);
    /// Dropped files are still being decoded.
    bool importing() const;
    /// Decodes the files of drops and of the import command on a worker.
    LongJobRunner &importJobs() { return *imports; }

    // --- Selection and the clipboard (the Edit menu) ---
    /// The arrangement clips selected; the last one clicked is the view's `selectedClipId`.
    const std::set<uint64_t> &selectedClips() const { return selection; }
    void selectClips(const std::set<uint64_t> &clips);
    void selectAll();
    void copySelection();
    void cutSelection();
    /// Pastes the clipboard at the playhead, its first clip on the selected track.
    void pasteAtPlayhead();
    bool canPaste() const { return !clipboard.empty(); }
    void deleteSelection();
    /// Delete steps for the selected clips, which are then no longer selected.
    std::vector<std::unique_ptr<Command>> takeSelectionForDeletion();
    /// Copies the selected clips right after the selection and selects the copies.
    void duplicateSelection();
    /// An empty MIDI clip one bar long from the grid line at or before `position` on the MIDI
    /// track, selected; its id, or 0 when none was made.
    uint64_t newMidiClipAt(uint64_t trackId, int64_t position);

    // --- Tracks (the Track menu and the header's context menu) ---
    /// Adds a track after the selected one's kind of tracks and selects it.
    void addTrack(TrackType type);
    void removeTrack(uint64_t trackId);
    /// Opens the name of the track for editing in place; Enter keeps it, Escape drops it.
    void beginRename(uint64_t trackId);
    QLineEdit *renameEditor() const { return renameField; }
    void chooseColour(uint64_t trackId);
    /// Moves the track `steps` places up (negative) or down among the timeline's rows.
    void moveTrack(uint64_t trackId, int steps);
    void setInputPair(uint64_t trackId, int32_t pair);

    // --- Clips (the Clip menu and a clip's context menu) ---
    /// The two clips glue and crossfade work on: the two selected ones on one track, else the
    /// selected clip and the next on its track.
    std::optional<std::pair<uint64_t, uint64_t>> clipPairForJoin() const;
    void glueSelection();
    void crossfadeSelection();
    void toggleLoopOfSelection();
    void flattenCompOfSelection();

    // --- View ---
    void setShowAutomation(bool shown);
    bool showsAutomation() const { return layout.showAutomation; }
    /// The whole song (or eight bars when empty) across the clip area, from its start.
    void fitToContent();
    void scrollToBeats(double beats);
    QScrollBar &horizontalBar() { return *hBar; }
    QScrollBar &verticalBar() { return *vBar; }
    /// The menu a right-click at `point` opens; null where none opens.
    QMenu *contextMenuAt(QPointF point);
    /// The audio processing of the selected audio clip (normalise, reverse, pitch, stems,
    /// slices, onsets) and the freeze mark of its track, as a submenu of `parent`.
    QMenu *audioProcessingMenu(QWidget *parent);
    /// The user tags of the audio file that the clip plays, as a "Tags" submenu of `menu`.
    void addMediaTagMenu(QMenu &menu, uint64_t clipId);

  Q_SIGNALS:
    /// The view ran an edit through the command stack.
    void projectEdited();
    /// A MIDI clip was opened for editing (double-click).
    void midiClipOpened(uint64_t clipId);
    /// The instrument window of a MIDI track was asked for (the header's "Instrument…").
    void instrumentPanelRequested(uint64_t trackId);

  protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

  private:
    LongJobRunner *imports = nullptr;

    /// A press on a clip being dragged: what was grabbed and the clip as it was.
    struct ClipDrag {
        ClipPart part = ClipPart::None;
        uint64_t clipId = 0;
        uint64_t trackId = 0;
        ClipKind kind = ClipKind::Audio;
        QPointF origin;
        QPointF current;
        QRectF rect;
        int64_t start = 0, length = 0, sourceOffset = 0, fadeIn = 0, fadeOut = 0;
        int64_t audioFrames = 0;
        float gain = 1.0f;
        double framesPerPixel = 1.0;
        bool snap = true;
    };
    /// The clip's values were the drag released where it is now.
    struct DraggedClip {
        int64_t start = 0, length = 0, sourceOffset = 0, fadeIn = 0, fadeOut = 0;
        float gain = 1.0f;
        uint64_t trackId = 0;
    };
    struct HeaderDrag {
        uint64_t trackId = 0;
        float gain = 1.0f;
    };
    /// A header dragged by its name: the track moves to the row it is dropped on.
    struct TrackDrag {
        uint64_t trackId = 0;
        QPointF origin;
        QPointF current;
    };
    /// A header's lower edge dragged: the main lane's height.
    struct HeightDrag {
        uint64_t trackId = 0;
        double startHeight = 0.0;
        double originY = 0.0;
    };
    /// A point of the shown automation lane dragged.
    struct AutomationDrag {
        uint64_t trackId = 0;
        int32_t lane = 0;
        int64_t from = 0;
        QRectF area;
        QPointF origin;
        QPointF current;
    };
    /// A tempo, meter or chord marker or a named marker dragged along the ruler.
    enum class MarkerKind : uint8_t { Named, Tempo, Meter, Chord, Beat };
    struct MarkerDrag {
        MarkerKind kind = MarkerKind::Named;
        int64_t from = 0;
        uint64_t markerId = 0;
        QPointF origin;
        QPointF current;
    };
    struct MarkerHit {
        MarkerKind kind = MarkerKind::Named;
        int64_t position = 0;
        uint64_t markerId = 0;
    };

    /// What the header's button under `point` does; empty elsewhere.
    QString headerToolTipAt(QPointF point) const;
    void edit(std::unique_ptr<Command> command);
    /// One undo step of `steps`, under `name` when there is more than one.
    void editAll(const std::string &name, std::vector<std::unique_ptr<Command>> steps);
    void syncSelection();
    void pressClipArea(QPointF point, Qt::KeyboardModifiers modifiers);
    bool pressAutomation(QPointF point, Qt::KeyboardModifiers modifiers);
    /// The automation lane under `point` with the point hit there (`from` -1 for none); the
    /// caller holds the project lock.
    std::optional<AutomationDrag> automationPointAt(QPointF point) const;
    void finishAutomationDrag(QPointF point);
    void finishTrackDrag(QPointF point);
    void finishRubberBand(QPointF point, Qt::KeyboardModifiers modifiers);
    void finishMarkerDrag(QPointF point);
    std::optional<MarkerHit> markerAt(QPointF point) const;
    int32_t shownAutomationLane() const;
    QMenu *headerMenu(uint64_t trackId);
    QMenu *clipMenu(uint64_t clipId);
    QMenu *rulerMenu(QPointF point);
    QMenu *automationMenu(uint64_t trackId, QPointF point);
    /// The parameters of the track's built-in inserts, each a lane `lanes` can show.
    void addEffectLaneChoices(QMenu &lanes, uint64_t trackId, int32_t shownLane);
    /// Shows the lane of insert `insertIndex`, driving `parameter` (an edit when it drove
    /// another).
    void showEffectLane(uint64_t trackId, std::size_t insertIndex, uint32_t parameter,
                        const QString &name);
    /// "Parameter · Plug-in" for the parameter a plug-in insert's lane drives; empty when the
    /// plug-in cannot say yet. Kept once known, so a helper is asked once per parameter.
    QString pluginLaneName(const Track &track, std::size_t insertIndex) const;
    QMenu *emptyAreaMenu();
    void commitRename();
    void updateScrollBars();
    void paintAutomationClips(QPainter &painter, const Track &track, const TimeMap &time,
                              const AutomationScale &scale, const QColor &line);
    void paintAutomation(QPainter &painter, const Project &project, const TimeMap &time,
                         const TrackRow &row);
    DraggedClip dragged(const ClipDrag &drag) const;
    void finishClipDrag();
    /// Ends the clip's move and carries a copy of it away in a drag to another page.
    void carryClipOut();
    bool pressHeader(QPointF point);
    void pressRuler(QPointF point, Qt::KeyboardModifiers modifiers);
    int64_t snapped(int64_t position, bool snap) const;
    int64_t samplesAtX(double x) const;
    double framesPerPixelAt(int64_t position) const;

    void paintRuler(QPainter &painter, const Project &project, const TimeMap &time);
    void paintRows(QPainter &painter, const Project &project, const TimeMap &time,
                   const std::vector<TrackRow> &rows);
    void paintClip(QPainter &painter, const Clip &clip, const Track &track, QRectF rect,
                   const TimeMap &time, const DraggedClip *override);
    void paintWaveform(QPainter &painter, const Clip &clip, const DraggedClip &shown, QRectF rect,
                       double framesPerPixel);
    void paintNotes(QPainter &painter, const Clip &clip, const DraggedClip &shown, QRectF rect,
                    const TimeMap &time);
    void paintHeaders(QPainter &painter, const Project &project, const std::vector<TrackRow> &rows);

    OVApplication &app;
    TimelineGeometry layout;
    PeakCache peakCache;
    uint64_t peaksSeen = 0;
    int64_t lastPlayhead = -1;
    /// Where the last paint drew the playhead (-1 before the first), and the view the last
    /// tick saw: a tick that finds only the playhead moved repaints its two columns.
    double paintedPlayheadX = -1.0;
    double tickedScrollBeats = -1.0;
    double tickedPixelsPerBeat = -1.0;
    void updatePlayheadColumn(double x);
    int64_t shownPlayhead() const;
    std::optional<ClipDrag> clipDrag;
    std::optional<HeaderDrag> headerDrag;
    std::optional<int64_t> cycleDragStart;
    std::optional<TrackDrag> trackDrag;
    std::optional<HeightDrag> heightDrag;
    std::optional<AutomationDrag> automationDrag;
    std::optional<MarkerDrag> markerDrag;
    std::optional<QPointF> rubberOrigin;
    QPointF rubberCurrent;
    std::set<uint64_t> selection;
    /// Copies of the clips as they were when copied; pasted clips get new ids.
    std::vector<std::shared_ptr<const Clip>> clipboard;
    QLineEdit *renameField = nullptr;
    uint64_t renamingTrackId = 0;
    QScrollBar *hBar = nullptr;
    QScrollBar *vBar = nullptr;
    bool updatingBars = false;
    double fittedBeats = -1.0;
    mutable std::map<std::string, QString> pluginLaneNames;
};

/// The colour a track is drawn in: its own, or one of a palette by its id while it has the
/// default, so that neighbouring tracks differ from the start.
QColor displayColourOf(const Track &track);

/// The name of mixer automation lane `lane` (1 volume, 2 pan, 3 mute, 4 plug-in parameter) in
/// the window's language, as the lane menus and the track header show it.
QString automationLaneLabel(int32_t lane);

} // namespace orvane
