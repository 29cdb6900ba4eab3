#pragma once

#include <QColor>

class QApplication;

namespace orvane {

/// The window's one dark look. Applied to the whole application, so that every widget
/// (stock Qt lists, file dialogs, combo pop-ups, dials, tooltips and message boxes included)
/// draws light text on a dark ground, never light text on white.
namespace theme {

inline constexpr QColor window{30, 31, 36};
inline constexpr QColor panel{38, 40, 47};
inline constexpr QColor field{24, 25, 30};
inline constexpr QColor button{48, 51, 60};
inline constexpr QColor border{69, 73, 86};
inline constexpr QColor text{214, 218, 226};
inline constexpr QColor dimText{150, 156, 170};
inline constexpr QColor accent{58, 95, 143};
inline constexpr QColor accentText{240, 244, 250};
inline constexpr QColor accentBorder{91, 134, 191};
inline constexpr QColor raised{44, 47, 55};
inline constexpr QColor hover{56, 60, 72};
inline constexpr QColor hoverBorder{77, 82, 99};
inline constexpr QColor disabledText{122, 128, 144};
inline constexpr QColor litText{17, 17, 17};
inline constexpr QColor muteOn{240, 200, 60};
inline constexpr QColor soloOn{90, 200, 255};
inline constexpr QColor armOn{240, 70, 70};
inline constexpr QColor monitorOn{120, 210, 130};

/// Sets the style, palette, tooltip palette and style sheet of `application`. Idempotent.
void apply(QApplication &application);

/// WCAG contrast ratio of two colours (1 when equal, 21 for black on white).
double contrastRatio(QColor first, QColor second);

} // namespace theme

} // namespace orvane
