#include "device/TakeJournal.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <unistd.h>

namespace orvane {

namespace fs = std::filesystem;

namespace {

constexpr const char *firstLine = "halvora-take-journal 1";
constexpr const char *journalExtension = ".takes";

/// A take file is a plain name inside the journal's folder: a journal never points outside.
bool plainFileName(const std::string &name) {
    return !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
}

std::string currentBootId() {
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::string id;
    in >> id;
    return id;
}

/// When the process started, in clock ticks since boot (field 22 of its stat); 0 when gone.
long long processStartTicks(long pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The name in parentheses may hold spaces: count the fields after its closing one.
    const auto close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 1));
    std::string field;
    for (int index = 3; index <= 22 && fields >> field; ++index)
        if (index == 22) return std::atoll(field.c_str());
    return 0;
}

/// The journal's writer is still running: the same boot, and a process of that id that
/// started when the writer did.
bool writerRuns(const TakeJournal &journal) {
    const long pid = journal.processId;
    if (pid <= 0) return false;
    if (!journal.bootId.empty() && journal.bootId != currentBootId()) return false;
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return false;
    return journal.processStart == 0 || processStartTicks(pid) == journal.processStart;
}

} // namespace

void stampTakeJournal(TakeJournal &journal) {
    journal.processId = static_cast<long>(::getpid());
    journal.bootId = currentBootId();
    journal.processStart = processStartTicks(journal.processId);
}

std::string takeJournalFolder(const std::string &projectFolder) {
    return (fs::path(projectFolder) / "takes-in-progress").string();
}

bool writeTakeJournal(const std::string &path, const TakeJournal &journal, std::string &error) {
    std::ostringstream text;
    text << firstLine << '\n'
         << "pid " << journal.processId << '\n';
    if (!journal.bootId.empty()) text << "boot " << journal.bootId << '\n';
    if (journal.processStart > 0) text << "started " << journal.processStart << '\n';
    text
         << "start " << journal.captureStart << '\n'
         << "latency " << journal.latencyFrames << '\n'
         << "punch " << (journal.punchEnabled ? 1 : 0) << ' ' << journal.punchIn << ' '
         << journal.punchOut << '\n';
    for (const JournalTake &take : journal.takes)
        text << "take " << take.inputPair << ' ' << take.trackId << ' ' << take.file << '\n';
    text << "end\n";
    const std::string bytes = text.str();
    const std::string temporary = path + ".partial";
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        error = temporary + ": " + std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) break;
        done += static_cast<std::size_t>(put);
    }
    const bool written = done == bytes.size() && ::fdatasync(fd) == 0;
    const int fault = errno;
    ::close(fd);
    if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        error = path + ": " + std::strerror(written ? errno : fault);
        ::unlink(temporary.c_str());
        return false;
    }
    // The rename itself must survive a power cut as well.
    const int folder = ::open(fs::path(path).parent_path().c_str(), O_RDONLY | O_DIRECTORY);
    if (folder >= 0) {
        (void)::fsync(folder);
        ::close(folder);
    }
    return true;
}

std::optional<TakeJournal> readTakeJournal(const std::string &path, std::string &error) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line) || line != firstLine) {
        error = path + ": not a take journal";
        return std::nullopt;
    }
    TakeJournal journal;
    bool ended = false;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string key;
        fields >> key;
        bool ok = true;
        if (key == "pid") {
            ok = static_cast<bool>(fields >> journal.processId);
        } else if (key == "boot") {
            ok = static_cast<bool>(fields >> journal.bootId);
        } else if (key == "started") {
            ok = static_cast<bool>(fields >> journal.processStart);
        } else if (key == "start") {
            ok = static_cast<bool>(fields >> journal.captureStart);
        } else if (key == "latency") {
            ok = static_cast<bool>(fields >> journal.latencyFrames);
        } else if (key == "punch") {
            int enabled = 0;
            ok = static_cast<bool>(fields >> enabled >> journal.punchIn >> journal.punchOut);
            journal.punchEnabled = enabled != 0;
        } else if (key == "take") {
            JournalTake take;
            ok = static_cast<bool>(fields >> take.inputPair >> take.trackId >> take.file) &&
                 plainFileName(take.file);
            if (ok) journal.takes.push_back(take);
        } else if (key == "end") {
            ended = true;
        } else {
            ok = false;
        }
        if (!ok) {
            error = path + ": unreadable line \"" + line.substr(0, 80) + "\"";
            return std::nullopt;
        }
    }
    if (!ended) {
        error = path + ": the journal is cut short";
        return std::nullopt;
    }
    return journal;
}

std::vector<std::string> interruptedTakeJournals(const std::string &projectFolder) {
    std::vector<std::pair<fs::file_time_type, std::string>> found;
    std::error_code fault;
    for (const auto &entry : fs::directory_iterator(takeJournalFolder(projectFolder), fault)) {
        if (!entry.is_regular_file(fault) || entry.path().extension() != journalExtension) continue;
        std::string ignored;
        const auto journal = readTakeJournal(entry.path().string(), ignored);
        // A journal that does not read is offered all the same: its files may hold audio.
        if (journal && writerRuns(*journal)) continue;
        found.emplace_back(entry.last_write_time(fault), entry.path().string());
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    for (auto &each : found)
        paths.push_back(std::move(each.second));
    return paths;
}

void removeTakeJournal(const std::string &path) {
    std::string ignored;
    if (const auto journal = readTakeJournal(path, ignored))
        for (const JournalTake &take : journal->takes)
            ::unlink((fs::path(path).parent_path() / take.file).c_str());
    ::unlink(path.c_str());
    // The folder goes with its last journal; it stays while another recording uses it.
    std::error_code fault;
    fs::remove(fs::path(path).parent_path(), fault);
}

} // namespace orvane
