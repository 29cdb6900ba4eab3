#include "core/project_io/DurableFile.h"

#include <cerrno>
#include <cstdio>
#include <random>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

namespace orvane::project_io {

namespace {

BeforeReplaceHook beforeReplaceHook = nullptr;

bool writeAll(int descriptor, std::string_view contents) {
    const char *bytes = contents.data();
    std::size_t left = contents.size();
    while (left > 0) {
        const ssize_t written = ::write(descriptor, bytes, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

bool syncPath(const std::filesystem::path &path, int flags) {
    const int descriptor = ::open(path.c_str(), flags | O_CLOEXEC);
    if (descriptor < 0) return false;
    const bool synced = ::fsync(descriptor) == 0;
    return ::close(descriptor) == 0 && synced;
}

void removeQuietly(const std::filesystem::path &path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

} // namespace

int createTemporaryFor(const std::filesystem::path &target, std::filesystem::path &temporary) {
    constexpr int attempts = 16;
    std::random_device entropy;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        char random[24];
        std::snprintf(random, sizeof random, "%08x%08x", static_cast<unsigned>(entropy()),
                      static_cast<unsigned>(entropy()));
        temporary = target;
        temporary.replace_filename("." + target.filename().string() + ".saving-" +
                                   std::to_string(::getpid()) + "-" + random);
        const int descriptor =
            ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (descriptor >= 0 || errno != EEXIST) return descriptor;
    }
    errno = EEXIST;
    return -1;
}

void setBeforeReplaceHook(BeforeReplaceHook hook) { beforeReplaceHook = hook; }

bool commitTemporaryFile(const std::filesystem::path &temporary,
                         const std::filesystem::path &target) {
    if (!syncPath(temporary, O_RDONLY)) {
        removeQuietly(temporary);
        return false;
    }
    if (beforeReplaceHook) beforeReplaceHook(target);
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        removeQuietly(temporary);
        return false;
    }
    // The rename is only durable once the folder entry itself reaches the disk.
    std::filesystem::path folder = target.parent_path();
    if (folder.empty()) folder = ".";
    return syncPath(folder, O_RDONLY | O_DIRECTORY);
}

bool writeFileDurably(const std::filesystem::path &target, std::string_view contents) {
    std::filesystem::path temporary;
    const int descriptor = createTemporaryFor(target, temporary);
    if (descriptor < 0) return false;
    const bool written = writeAll(descriptor, contents);
    if (::close(descriptor) != 0 || !written) {
        removeQuietly(temporary);
        return false;
    }
    return commitTemporaryFile(temporary, target);
}

} // namespace orvane::project_io
