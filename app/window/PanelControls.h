#pragma once

#include <QAbstractSlider>

#include <functional>

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

} // namespace orvane
