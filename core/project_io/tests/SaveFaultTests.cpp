#include "core/project_io/DurableFile.h"
#include "core/project_io/ProjectFolder.h"
#include "core/project_io/tests/ProjectFolderFixture.h"

#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orvane::project_io {
namespace {

namespace fs = std::filesystem;

/// Stands in for a crash: the process ends the moment the document is about to replace the
/// previous one, its temporary file complete.
void dieBeforeDocumentReplace(const fs::path &target) {
    if (target.filename() == "project.json") ::_exit(0);
}

/// Makes a folder refuse new entries even for root, which ignores permission bits: the
/// immutable attribute where the file system has it, the permission bits otherwise.
bool setReadOnly(const std::string &folder, bool readOnly) {
    if (::geteuid() != 0) return ::chmod(folder.c_str(), readOnly ? 0555 : 0755) == 0;
    const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (descriptor < 0) return false;
    int flags = 0;
    bool done = ::ioctl(descriptor, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
        flags = readOnly ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        done = ::ioctl(descriptor, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(descriptor);
    return done;
}

class SaveFault : public testing::ProjectFolderTest {
  protected:
    void TearDown() override {
        for (const char *sub : {"", "/media", "/plugins"})
            setReadOnly(folder() + sub, false);
        ProjectFolderTest::TearDown();
    }

    std::string folder() const { return path("song"); }

    /// A saved project with audio, and the exact bytes of its document.
    Project savedProject(std::string &document) {
        Project project;
        project.name = "before";
        addAudioClip(project, 64, 1);
        EXPECT_TRUE(saveProject(project, folder(), false).ok);
        document = readFile(folder() + "/project.json");
        return project;
    }

    void expectPreviousProjectIntact(const std::string &document) {
        EXPECT_EQ(readFile(folder() + "/project.json"), document);
        std::optional<Project> loaded = loadProject(folder());
        ASSERT_TRUE(loaded.has_value());
        EXPECT_EQ(loaded->name, "before");
        std::string error;
        EXPECT_TRUE(hydrateProjectMedia(*loaded, &error)) << error;
    }
};

TEST_F(SaveFault, ASaveCutOffBeforeTheRenameLeavesThePreviousDocument) {
    std::string document;
    Project project = savedProject(document);
    project.name = "after";
    addAudioClip(project, 32, 2);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        setBeforeReplaceHook(dieBeforeDocumentReplace);
        saveProject(project, folder(), false);
        ::_exit(1); // the hook did not stop the save
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0) << "the save never reached the document's rename";
    // The cut-off write is complete in its temporary file, but the document is the old one.
    const std::string prefix = ".project.json.saving-" + std::to_string(child) + "-";
    int temporaries = 0;
    for (const auto &entry : fs::directory_iterator(folder()))
        if (entry.path().filename().string().rfind(prefix, 0) == 0) ++temporaries;
    EXPECT_EQ(temporaries, 1);
    expectPreviousProjectIntact(document);
}

TEST_F(SaveFault, ASaveIntoAFolderThatBecameReadOnlyFailsAndChangesNothing) {
    std::string document;
    Project project = savedProject(document);
    project.name = "after";
    project.tracks[0]->clips[0]->audio = ramp(64, 5);
    const std::string media = readFile(folder() + "/media/clip_1.wav");
    for (const char *sub : {"", "/media", "/plugins"})
        if (!setReadOnly(folder() + sub, true)) GTEST_SKIP() << "cannot make a folder read-only";
    const SaveResult result = saveProject(project, folder(), false);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, "cannot write project.json");
    EXPECT_EQ(readFile(folder() + "/media/clip_1.wav"), media);
    expectPreviousProjectIntact(document);
}

using DurableFile = testing::ProjectFolderTest;

TEST_F(DurableFile, WritesTheWholeContentsAndLeavesNoTemporaryFile) {
    ASSERT_TRUE(writeFileDurably(path("a.txt"), "first"));
    ASSERT_TRUE(writeFileDurably(path("a.txt"), "second, longer"));
    EXPECT_EQ(readFile(path("a.txt")), "second, longer");
    EXPECT_EQ(std::distance(fs::directory_iterator(root_), fs::directory_iterator()), 1);
    EXPECT_FALSE(writeFileDurably(path("missing/a.txt"), "x"));
}

TEST_F(SaveFault, NoPlantedLinkRedirectsASave) {
    std::string document;
    Project project = savedProject(document);
    const std::string victim = path("victim.txt");
    std::ofstream(victim) << "keep me";
    // Links at every name an earlier version would have used for this process's temporaries.
    const std::string pid = std::to_string(::getpid());
    for (const char *name : {"/.project.json.saving-", "/media/.clip_1.wav.saving-"})
        fs::create_symlink(victim, folder() + name + pid);
    project.name = "after";
    addAudioClip(project, 32, 2);
    ASSERT_TRUE(saveProject(project, folder(), false).ok);
    EXPECT_EQ(readFile(victim), "keep me");
    EXPECT_FALSE(fs::is_symlink(folder() + "/project.json"));
    EXPECT_EQ(loadProject(folder())->name, "after");

    // Two temporaries for one target never share a name, and neither is a link.
    fs::path first, second;
    const int one = createTemporaryFor(folder() + "/x", first);
    const int two = createTemporaryFor(folder() + "/x", second);
    EXPECT_GE(one, 0);
    EXPECT_GE(two, 0);
    EXPECT_NE(first, second);
    ::close(one);
    ::close(two);

    // A link in place of the project or its media folder is refused, the target untouched.
    const std::string elsewhere = path("elsewhere");
    fs::create_directories(elsewhere);
    fs::create_symlink(elsewhere, path("linked"));
    const SaveResult linked = saveProject(project, path("linked"), false);
    EXPECT_FALSE(linked.ok);
    EXPECT_NE(linked.error.find("is a symbolic link"), std::string::npos) << linked.error;
    fs::create_directories(path("mediaLinked"));
    fs::create_symlink(elsewhere, path("mediaLinked/media"));
    EXPECT_FALSE(saveProject(project, path("mediaLinked"), false).ok);
    EXPECT_TRUE(fs::is_empty(elsewhere));
}

} // namespace
} // namespace orvane::project_io
