#include "app/shell/RenderOutput.h"

#include "core/audiofile/AudioFile.h"
#include "core/model/Translate.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <random>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvane {

namespace fs = std::filesystem;

namespace {

// Temporary files do not take the output's name: a legal output name near the 255-byte
// limit would otherwise leave no room for the suffix.
constexpr std::string_view temporaryPrefix = ".halvora-render-";
constexpr std::string_view temporarySuffix = ".partial";
constexpr int temporaryAttempts = 16;

fs::path folderOf(const std::string &path) {
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? fs::path(".") : parent;
}

std::string quoted(const std::string &path) { return "\"" + printableText(path) + "\""; }

bool isInside(const fs::path &file, const std::string &folder) {
    std::error_code error;
    const fs::path canonicalFolder = fs::weakly_canonical(fs::absolute(folder), error);
    if (error) return false;
    const fs::path canonicalFile = fs::weakly_canonical(fs::absolute(file), error);
    if (error) return false;
    auto fileAt = canonicalFile.begin();
    for (const auto &part : canonicalFolder) {
        if (part.empty()) continue; // the trailing separator of "dir/"
        if (fileAt == canonicalFile.end() || *fileAt != part) return false;
        ++fileAt;
    }
    return true;
}

/// The process id in a temporary file's name, or 0 when the name is not one of ours.
pid_t ownerOfTemporary(const std::string &name) {
    if (name.size() <= temporaryPrefix.size() + temporarySuffix.size() ||
        name.compare(0, temporaryPrefix.size(), temporaryPrefix) != 0 ||
        name.compare(name.size() - temporarySuffix.size(), temporarySuffix.size(),
                     temporarySuffix) != 0)
        return 0;
    pid_t owner = 0;
    const char *first = name.data() + temporaryPrefix.size();
    const auto [end, fault] = std::from_chars(first, name.data() + name.size(), owner);
    return fault == std::errc{} && *end == '-' ? owner : 0;
}

/// Removes what renders killed before they could clean up left in `folder`.
void removeAbandonedTemporaries(const fs::path &folder) {
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        const pid_t owner = ownerOfTemporary(entry->path().filename().string());
        if (owner <= 0 || owner == ::getpid()) continue;
        if (::kill(owner, 0) == -1 && errno == ESRCH) ::unlink(entry->path().c_str());
    }
}

// The temporary being written, for the signal handler, which may only read plain memory.
char interruptedTemporary[4096];
volatile std::sig_atomic_t temporaryInFlight = 0;

extern "C" void removeTemporaryAndDie(int signal) {
    if (temporaryInFlight) ::unlink(interruptedTemporary);
    // Ended by the signal as before, so that the caller's shell sees which one it was.
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

void noteTemporaryInFlight(const fs::path &temporary) {
    const std::string &name = temporary.native();
    if (name.size() >= sizeof interruptedTemporary) return;
    std::memcpy(interruptedTemporary, name.c_str(), name.size() + 1);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    temporaryInFlight = 1;
}

/// A temporary's name in `folder` that says which process made it.
fs::path randomTemporaryName(const fs::path &folder, std::random_device &entropy) {
    char random[16];
    std::snprintf(random, sizeof random, "%08x", static_cast<unsigned>(entropy()));
    return folder / (std::string(temporaryPrefix) + std::to_string(::getpid()) + "-" + random +
                     std::string(temporarySuffix));
}

/// A new temporary file in `folder`, opened exclusively and never through a symbolic link.
int createTemporary(const fs::path &folder, fs::path &temporary) {
    std::random_device entropy;
    for (int attempt = 0; attempt < temporaryAttempts; ++attempt) {
        temporary = randomTemporaryName(folder, entropy);
        // Named to the signal handler before it exists: a signal between the open and the
        // naming would otherwise leave the file behind.
        noteTemporaryInFlight(temporary);
        const int descriptor =
            ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (descriptor >= 0) return descriptor;
        temporaryInFlight = 0;
        if (errno != EEXIST) return -1;
    }
    errno = EEXIST;
    return -1;
}

/// A file in `folder` that has no name yet, or -1 where the file system has no such files.
int openAnonymous(const fs::path &folder) {
    return ::open(folder.c_str(), O_WRONLY | O_TMPFILE | O_CLOEXEC, 0666);
}

/// Gives the anonymous file open as `descriptor` a name: `outputPath` itself when nothing is
/// there, else a fresh temporary beside it (set in `temporary`) for the rename over it.
bool linkAnonymous(int descriptor, const std::string &outputPath, const fs::path &folder,
                   fs::path &temporary) {
    // Through /proc: naming the descriptor itself (AT_EMPTY_PATH) takes a privilege.
    const std::string self = "/proc/self/fd/" + std::to_string(descriptor);
    const auto link = [&](const char *name) {
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name, AT_SYMLINK_FOLLOW) == 0) return true;
        return errno == ENOENT && ::linkat(descriptor, "", AT_FDCWD, name, AT_EMPTY_PATH) == 0;
    };
    if (link(outputPath.c_str())) return true;
    if (errno != EEXIST) return false;
    std::random_device entropy;
    for (int attempt = 0; attempt < temporaryAttempts; ++attempt) {
        temporary = randomTemporaryName(folder, entropy);
        noteTemporaryInFlight(temporary);
        if (link(temporary.c_str())) return true;
        temporaryInFlight = 0;
        if (errno != EEXIST) break;
    }
    temporary.clear();
    return false;
}

std::string cannotWrite(const std::string &path, int error) {
    return "cannot write " + quoted(path) + ": " + std::strerror(error);
}

void syncFolder(const fs::path &folder) {
    const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) return;
    ::fsync(descriptor);
    ::close(descriptor);
}

} // namespace

std::string printableText(std::string_view text) {
    constexpr char digits[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(text.size());
    for (const char byte : text) {
        const auto value = static_cast<unsigned char>(byte);
        if (value >= 0x20 && value != 0x7F) {
            shown += byte;
            continue;
        }
        shown += "\\x";
        shown += digits[value >> 4];
        shown += digits[value & 0xF];
    }
    return shown;
}

bool checkOutputTarget(const std::string &outputPath, const std::string &projectFolder,
                       std::string &error) {
    if (outputPath.empty()) {
        error = translate("RenderOutput", "no output file was given");
        return false;
    }
    struct stat status {};
    if (::lstat(outputPath.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode)) {
            error = withArguments(translate("RenderOutput", "cannot write %1: it is a folder"),
                                  {quoted(outputPath)});
            return false;
        }
        if (!S_ISREG(status.st_mode) && !S_ISLNK(status.st_mode)) {
            error = withArguments(translate("RenderOutput", "cannot write %1: it is not a regular "
                                                            "file (a device or a pipe is never "
                                                            "replaced)"),
                                  {quoted(outputPath)});
            return false;
        }
    }
    if (!projectFolder.empty() && isInside(outputPath, projectFolder)) {
        error = withArguments(translate("RenderOutput", "cannot write %1: it lies inside the "
                                                        "project folder %2 being rendered"),
                              {quoted(outputPath), quoted(projectFolder)});
        return false;
    }
    const fs::path folder = folderOf(outputPath);
    std::error_code fault;
    if (!fs::is_directory(folder, fault)) {
        error = withArguments(translate("RenderOutput", "cannot write %1: no folder %2"),
                              {quoted(outputPath), quoted(folder.string())});
        return false;
    }
    if (::access(folder.c_str(), W_OK) != 0) {
        error = withArguments(translate("RenderOutput", "cannot write %1: the folder %2 is not "
                                                        "writable"),
                              {quoted(outputPath), quoted(folder.string())});
        return false;
    }
    return true;
}

bool writeRenderOutput(const std::string &outputPath, const std::vector<float> &samples,
                       int64_t frames, int32_t channels, double sampleRate, std::string &error) {
    return writeRenderOutputWith(
        outputPath,
        [&](int descriptor) {
            return exportWav(descriptor, samples.data(), static_cast<int>(frames), channels,
                             sampleRate);
        },
        error);
}

bool writeRenderOutputWith(const std::string &outputPath,
                           const std::function<bool(int descriptor)> &write, std::string &error) {
    const fs::path folder = folderOf(outputPath);
    removeAbandonedTemporaries(folder);
    // A file with no name until it is complete: a render killed outright (which no handler
    // sees) leaves nothing in the folder. File systems without anonymous files get a named
    // temporary instead, which the next render there sweeps away.
    int descriptor = openAnonymous(folder);
    fs::path temporary;
    if (descriptor < 0) descriptor = createTemporary(folder, temporary);
    if (descriptor < 0) {
        error = cannotWrite(outputPath, errno);
        return false;
    }
    errno = 0;
    bool written = write(descriptor) && ::fsync(descriptor) == 0;
    int failure = errno;
    const bool wasAnonymous = temporary.empty();
    if (written && wasAnonymous) {
        // Linked straight to the output when it is new; next to it, then renamed over it,
        // when the user's earlier file is there to replace.
        written = linkAnonymous(descriptor, outputPath, folder, temporary);
        if (!written) failure = errno;
    }
    if (::close(descriptor) != 0 && written) {
        written = false;
        failure = errno;
        // Named as the output by this run, so it is ours to take back.
        if (wasAnonymous && temporary.empty()) ::unlink(outputPath.c_str());
    }
    if (written && !temporary.empty() && ::rename(temporary.c_str(), outputPath.c_str()) != 0) {
        written = false;
        failure = errno;
    }
    if (!written && !temporary.empty()) ::unlink(temporary.c_str());
    temporaryInFlight = 0;
    if (!written) {
        error = cannotWrite(outputPath, failure != 0 ? failure : EIO);
        return false;
    }
    syncFolder(folder);
    return true;
}

bool prepareOutputFolder(const std::string &folder, const std::string &projectFolder,
                         std::string &error) {
    // Checked as a file in it would be, before anything is created: a folder made inside the
    // project would be left there by the refusal.
    const std::string probe = (fs::path(folder) / ".").string();
    if (!projectFolder.empty() && isInside(probe, projectFolder)) {
        error = withArguments(translate("RenderOutput", "cannot write into %1: it lies inside "
                                                        "the project folder %2 being rendered"),
                              {quoted(folder), quoted(projectFolder)});
        return false;
    }
    std::error_code fault;
    const auto status = fs::status(folder, fault);
    if (fs::exists(status)) {
        if (fs::is_directory(status)) return true;
        error = withArguments(translate("RenderOutput", "cannot write into %1: it is not a folder"),
                              {quoted(folder)});
        return false;
    }
    if (!fs::create_directories(folder, fault) && fault) {
        error = withArguments(translate("RenderOutput", "cannot create the folder %1: %2"),
                              {quoted(folder), fault.message()});
        return false;
    }
    return true;
}

void removeRenderTemporaryOnInterrupt() {
    struct sigaction action {};
    action.sa_handler = removeTemporaryAndDie;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM})
        ::sigaction(signal, &action, nullptr);
}

} // namespace orvane
