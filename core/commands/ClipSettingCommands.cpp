#include "core/commands/ClipSettingCommands.h"

#include <algorithm>
#include <cmath>

namespace orvane {

SetClipGainCommand::SetClipGainCommand(uint64_t clipId, float gain)
    : clipId_(clipId), gain_(gain) {}

void SetClipGainCommand::redo(Project &project) {
    const auto clip = project.findClip(clipId_);
    if (!clip) return;
    if (!captured_) {
        previousGain_ = clip->gain;
        captured_ = true;
    }
    if (std::isnan(gain_)) return;
    clip->gain = std::clamp(gain_, 0.0f, 4.0f);
}

void SetClipGainCommand::undo(Project &project) {
    const auto clip = project.findClip(clipId_);
    if (clip && captured_) clip->gain = previousGain_;
}

std::string SetClipGainCommand::name() const { return QT_TRANSLATE_NOOP("Command", "Clip Gain"); }

SetClipFadesCommand::SetClipFadesCommand(uint64_t clipId, int64_t fadeIn, int64_t fadeOut)
    : clipId_(clipId), fadeIn_(fadeIn), fadeOut_(fadeOut) {}

void SetClipFadesCommand::redo(Project &project) {
    const auto clip = project.findClip(clipId_);
    if (!clip) return;
    if (!captured_) {
        previousFadeIn_ = clip->fadeIn;
        previousFadeOut_ = clip->fadeOut;
        captured_ = true;
    }
    const int64_t limit = std::max<int64_t>(clip->length / 2, 1);
    clip->fadeIn = std::min(limit, fadeIn_);
    clip->fadeOut = std::min(limit, fadeOut_);
}

void SetClipFadesCommand::undo(Project &project) {
    const auto clip = project.findClip(clipId_);
    if (!clip || !captured_) return;
    clip->fadeIn = previousFadeIn_;
    clip->fadeOut = previousFadeOut_;
}

std::string SetClipFadesCommand::name() const { return QT_TRANSLATE_NOOP("Command", "Clip Fades"); }

ToggleClipLoopCommand::ToggleClipLoopCommand(uint64_t clipId) : clipId_(clipId) {}

void ToggleClipLoopCommand::redo(Project &project) {
    const auto clip = project.findClip(clipId_);
    if (!clip) return;
    if (!captured_) {
        previousLoop_ = clip->loop;
        previousLoopLength_ = clip->loopLength;
        captured_ = true;
    }
    const bool wasLooping = clip->loop;
    clip->loop = !wasLooping;
    if (!wasLooping && clip->loopLength < 1) clip->loopLength = std::max<int64_t>(clip->length, 1);
}

void ToggleClipLoopCommand::undo(Project &project) {
    const auto clip = project.findClip(clipId_);
    if (!clip || !captured_) return;
    clip->loop = previousLoop_;
    clip->loopLength = previousLoopLength_;
}

std::string ToggleClipLoopCommand::name() const {
    return QT_TRANSLATE_NOOP("Command", "Toggle Clip Loop");
}

} // namespace orvane
