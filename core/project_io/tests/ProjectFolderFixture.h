#pragma once

#include "core/model/Project.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace orvane::project_io::testing {

/// A scratch folder per test, removed afterwards, with helpers to build audio clips.
class ProjectFolderTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    std::string path(const std::string &relative) const;
    static std::string readFile(const std::string &file);
    /// A stereo ramp of `frames` frames, different for each `seed`.
    static std::shared_ptr<const std::vector<float>> ramp(int frames, int seed);
    /// Writes a 16-bit stereo WAV of `ramp(frames, seed)` at `file`, creating its folder.
    void writeWav(const std::string &file, int frames, int seed) const;
    std::shared_ptr<Clip> addAudioClip(Project &project, int frames, int seed) const;

    std::string root_;
};

} // namespace orvane::project_io::testing
