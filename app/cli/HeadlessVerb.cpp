#include "app/cli/HeadlessVerb.h"

#include "app/shell/OVApplication.h"
#include "app/shell/OVMainView.h"
#include "app/shell/RemoteControl.h"
#include "app/shell/RenderOutput.h"
#include "core/commands/TrackCommands.h"
#include "core/engine/Engine.h"
#include "core/model/Translate.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <string_view>

#include <poll.h>
#include <unistd.h>

namespace orvane {

namespace {

using Clock = std::chrono::steady_clock;

/// Lines of a file descriptor, read without stdio so that waiting for one can time out. A
/// line longer than `longestLine` is dropped whole (it is no operation this program takes)
/// and stands as `droppedLine`, so that endless input cannot exhaust the memory.
class LineReader {
  public:
    static constexpr std::size_t longestLine = 1 << 20;
    static constexpr std::string_view droppedLine = "\x01";

    explicit LineReader(int fd) : fd(fd) {}

    /// The next line; none on timeout (`timeoutMs` >= 0) or at the end of the input.
    std::optional<std::string> next(int timeoutMs) {
        for (;;) {
            if (auto line = takeLine()) return line;
            if (ended) {
                if (dropping) {
                    dropping = false;
                    return std::string(droppedLine);
                }
                if (pending.empty()) return std::nullopt;
                std::string last;
                last.swap(pending);
                searched = 0;
                return last;
            }
            pollfd entry{fd, POLLIN, 0};
            const int ready = ::poll(&entry, 1, timeoutMs);
            if (ready == 0) return std::nullopt;
            if (ready < 0) continue;
            char buffer[65536];
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got <= 0)
                ended = true;
            else
                append(buffer, static_cast<std::size_t>(got));
        }
    }
    bool atEnd() const { return ended && pending.empty() && !dropping && !droppedReady; }

  private:
    void append(const char *bytes, std::size_t count) {
        if (dropping) {
            const auto *newline = static_cast<const char *>(std::memchr(bytes, '\n', count));
            if (!newline) return;
            const auto after = static_cast<std::size_t>(newline - bytes) + 1;
            pending.assign(bytes + after, count - after);
            searched = 0;
            dropping = false;
            droppedReady = true;
            return;
        }
        pending.append(bytes, count);
        if (pending.size() > longestLine && pending.find('\n', searched) > longestLine) {
            // The lines before the long one are kept; the long one is dropped from here on.
            const auto lastNewline = pending.rfind('\n', longestLine);
            pending.resize(lastNewline == std::string::npos ? 0 : lastNewline + 1);
            searched = 0;
            dropping = true;
        }
    }

    std::optional<std::string> takeLine() {
        if (droppedReady) {
            droppedReady = false;
            return std::string(droppedLine);
        }
        const auto newline = pending.find('\n', searched);
        if (newline == std::string::npos) {
            searched = pending.size();
            return std::nullopt;
        }
        std::string line = pending.substr(0, newline);
        pending.erase(0, newline + 1);
        searched = 0;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
    }

    int fd;
    std::string pending;
    /// Where the search for the next newline goes on: the bytes before hold none.
    std::size_t searched = 0;
    bool dropping = false;     // inside an over-long line, waiting for its end
    bool droppedReady = false; // an over-long line ended and is yet to be reported
    bool ended = false;
};

/// Answers the application's questions from the input: a chooser takes the command's
/// argument when it has one, else the next line (empty = cancel); an alert takes a button's
/// text or its number from 1.
class HeadlessUi final : public ApplicationUi {
  public:
    HeadlessUi(LineReader &input, std::FILE *output) : input(input), output(output) {}

    std::deque<std::string> arguments;

    int runAlert(const std::string &title, const std::string &text,
                 const std::vector<std::string> &buttons) override {
        std::string choices;
        for (std::size_t index = 0; index < buttons.size(); ++index)
            choices += (index ? " / " : "") + std::to_string(index + 1) + " " + buttons[index];
        print("? " + title + " " + text + " [" + choices + "]");
        const auto answer = input.next(-1);
        if (!answer) return -1;
        for (std::size_t index = 0; index < buttons.size(); ++index)
            if (*answer == buttons[index] || *answer == std::to_string(index + 1))
                return static_cast<int>(index);
        return -1;
    }
    std::optional<std::string> chooseSaveLocation(const std::string &type,
                                                  const std::string &defaultName) override {
        return pathAnswer("? save " + type + " as (" + defaultName + ")");
    }
    std::vector<std::string> chooseFilesToOpen(const std::string &prompt,
                                               const std::vector<std::string> &,
                                               bool allowMultiple) override {
        std::vector<std::string> files;
        if (allowMultiple && !arguments.empty()) {
            files.assign(arguments.begin(), arguments.end());
            arguments.clear();
            return files;
        }
        if (auto path = pathAnswer("? " + prompt)) files.push_back(*path);
        return files;
    }
    std::optional<std::string> chooseFolder(const std::string &prompt) override {
        return pathAnswer("? " + prompt);
    }
    void showStatus(const std::string &text) override { print(text); }
    /// Names from documents and state files reach the terminal: each line goes out escaped.
    void print(const std::string &text) {
        std::string shown;
        std::size_t start = 0;
        for (;;) {
            const auto end = text.find('\n', start);
            shown += printableText(std::string_view(text).substr(start, end - start));
            if (end == std::string::npos) break;
            shown += '\n';
            start = end + 1;
        }
        std::fprintf(output, "%s\n", shown.c_str());
        std::fflush(output);
    }

  private:
    std::optional<std::string> pathAnswer(const std::string &prompt) {
        if (!arguments.empty()) {
            std::string path = arguments.front();
            arguments.pop_front();
            return path;
        }
        print(prompt);
        auto answer = input.next(-1);
        if (!answer || answer->empty()) return std::nullopt;
        return answer;
    }

    LineReader &input;
    std::FILE *output;
};

std::deque<std::string> splitWords(const std::string &text) {
    std::deque<std::string> words;
    std::size_t position = 0;
    while (position < text.size()) {
        const auto start = text.find_first_not_of(" \t", position);
        if (start == std::string::npos) break;
        auto end = text.find_first_of(" \t", start);
        if (end == std::string::npos) end = text.size();
        words.push_back(text.substr(start, end - start));
        position = end;
    }
    return words;
}

std::optional<int64_t> parseInteger(const std::string &text) {
    char *end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0') return std::nullopt;
    return value;
}

struct Session {
    OVApplication &app;
    HeadlessUi &ui;
    bool quit = false;
};

/// An operation and the rest of its line (a path or a name keeps its spaces).
using Operation = std::function<void(Session &, const std::string &rest)>;

void selectTrack(Session &session, const std::string &name) {
    OVMainView &view = session.app.view();
    Engine &engine = session.app.engine();
    std::lock_guard lock(engine.projectMutex);
    for (const auto &track : engine.project.tracks)
        if (track->name == name) {
            view.selectedTrackId = track->id;
            return;
        }
    session.ui.print("error: no track \"" + name + "\"");
}

void setCycle(Session &session, const std::string &rest) {
    const std::deque<std::string> words = splitWords(rest);
    const auto start = words.size() >= 2 ? parseInteger(words[0]) : std::nullopt;
    const auto end = words.size() >= 2 ? parseInteger(words[1]) : std::nullopt;
    if (!start || !end) {
        session.ui.print("error: cycle START END (samples)");
        return;
    }
    session.app.view().setCycle(*start, *end, true);
}

/// `save-as [--force] [PROJECT]`: nobody can be asked here, so another project at the place
/// chosen is replaced only when the line says so.
void saveAs(Session &session, const std::string &rest) {
    constexpr std::string_view force = "--force";
    std::string target = rest;
    const bool replace = target.compare(0, force.size(), force) == 0 &&
                         (target.size() == force.size() || target[force.size()] == ' ');
    if (replace) {
        const auto start = target.find_first_not_of(" \t", force.size());
        target = start == std::string::npos ? std::string() : target.substr(start);
    }
    session.ui.arguments.clear();
    if (!target.empty()) session.ui.arguments.push_back(target);
    OVMainView &view = session.app.view();
    view.existingProject =
        replace ? OVMainView::ExistingProject::Replace : OVMainView::ExistingProject::Refuse;
    (void)view.saveProjectAs(); // each verb's outcome is its status line
    view.existingProject = OVMainView::ExistingProject::Refuse;
}

const std::map<std::string, Operation> &operations() {
    static const std::map<std::string, Operation> table = {
        {"new", [](Session &s, const std::string &) { s.app.view().newProject(); }},
        {"open", [](Session &s, const std::string &) { s.app.view().openProject(); }},
        {"save", [](Session &s, const std::string &) { (void)s.app.view().saveProject(); }},
        {"save-as", saveAs},
        {"collect",
         [](Session &s, const std::string &) { (void)s.app.view().collectAllAndSave(); }},
        {"import", [](Session &s, const std::string &) { s.app.view().importAudio(); }},
        {"import-midi",
         [](Session &s, const std::string &) { s.app.view().importMidiFileFromMenu(); }},
        {"export-midi",
         [](Session &s, const std::string &rest) {
             (void)s.app.view().exportMidiFile(rest, midifile::MidiExportScope::Song, 0);
         }},
        {"export", [](Session &s, const std::string &) { s.app.view().exportWav(); }},
        {"export-cycle", [](Session &s, const std::string &) { s.app.view().exportLoopWav(); }},
        {"export-track",
         [](Session &s, const std::string &) { s.app.view().exportSelectedTrackWav(); }},
        {"select-track", selectTrack},
        {"cycle", setCycle},
        {"add-track",
         [](Session &s, const std::string &rest) {
             const std::string name = rest.empty() ? translate("Track", "Audio") : rest;
             s.app.view().executeEdit(std::make_unique<AddTrackCommand>(TrackType::Audio, name));
         }},
        {"undo", [](Session &s, const std::string &) { s.app.view().undoEdit(); }},
        {"redo", [](Session &s, const std::string &) { s.app.view().redoEdit(); }},
        {"play", [](Session &s, const std::string &) { s.app.view().play(); }},
        {"stop", [](Session &s, const std::string &) { s.app.view().stop(); }},
        {"autosave", [](Session &s, const std::string &) { s.app.onAutosave(); }},
        {"status", [](Session &s, const std::string &) { s.ui.print(s.app.status().text()); }},
        {"quit", [](Session &s, const std::string &) { s.quit = s.app.shouldTerminate(); }},
    };
    return table;
}

void runLine(Session &session, const std::string &line) {
    std::deque<std::string> words = splitWords(line);
    if (words.empty() || words.front().front() == '#') return;
    const std::string name = words.front();
    words.pop_front();
    const auto found = operations().find(name);
    if (found == operations().end()) {
        session.ui.print("error: unknown operation \"" + name + "\" (see Halvora --help)");
        return;
    }
    // The session manager decides where the project lives and which one is open.
    if (session.app.remote().underSessionManager() &&
        (name == "new" || name == "open" || name == "save-as")) {
        session.ui.print("error: \"" + name + "\" is the session manager's to do");
        return;
    }
    std::string rest;
    if (!words.empty()) {
        const auto end = line.find_last_not_of(" \t");
        const auto start = line.find(words.front(), line.find(name) + name.size());
        rest = line.substr(start, end + 1 - start);
    }
    // A chooser takes the argument instead of asking: every file for an import, else the
    // rest of the line whole.
    session.ui.arguments.clear();
    if (name == "import")
        session.ui.arguments = words;
    else if (!rest.empty())
        session.ui.arguments.push_back(rest);
    try {
        found->second(session, rest);
    } catch (const std::bad_alloc &) {
        // The operation is dropped whole; the document and the run go on.
        session.ui.print("error: not enough memory for \"" + name + "\"");
    }
    session.ui.arguments.clear();
}

} // namespace

int runHeadless(const std::vector<std::string> &arguments, int inputFd, std::FILE *output,
                std::FILE *errors) {
    std::vector<std::string> projects;
    std::optional<int32_t> oscPort;
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        if (arguments[index] != "--osc-port") {
            projects.push_back(arguments[index]);
            continue;
        }
        const auto port =
            index + 1 < arguments.size() ? parseInteger(arguments[index + 1]) : std::nullopt;
        if (!port || *port < 1 || *port > 65535) {
            std::fprintf(errors, "Halvora: --osc-port takes a port number from 1 to 65535\n");
            return 2;
        }
        oscPort = static_cast<int32_t>(*port);
        ++index;
    }
    if (projects.size() > 1) {
        std::fprintf(errors, "Halvora: --headless takes at most one project\n");
        return 2;
    }
    LineReader input(inputFd);
    HeadlessUi ui(input, output);
    OVApplication app(ui);
    app.didFinishLaunching();
    if (oscPort) {
        RemotePreferences remote;
        remote.enabled = true;
        remote.port = *oscPort;
        if (!app.remote().applyPreferences(remote)) {
            std::fprintf(errors, "Halvora: %s\n", app.status().text().c_str());
            app.willTerminate();
            return 1;
        }
    }
    const bool underSession = app.remote().underSessionManager();
    app.view().existingProject = OVMainView::ExistingProject::Refuse;
    const bool recovered = app.offerRecoveryIfNeeded();
    // A recovered document is the crashed session's unsaved work: the project named on the
    // command line replaces it only when the user says so.
    const bool openArgument =
        !projects.empty() &&
        (!recovered || app.view().confirmDiscardingChanges(translate("OVMainView", "Open project?"),
                                                           translate("OVMainView", "Don't Save")));
    if (openArgument && !app.view().loadProjectFromBundle(projects.front())) {
        app.willTerminate();
        return 1;
    }

    Session session{app, ui};
    const auto tick = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(OVApplication::uiTickSeconds));
    const auto autosaveEvery = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(OVApplication::autosaveTickSeconds));
    auto nextTick = Clock::now() + tick;
    auto nextAutosave = Clock::now() + autosaveEvery;
    while (!session.quit) {
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - Clock::now());
        const auto line = input.next(static_cast<int>(std::max<int64_t>(wait.count(), 0)));
        if (line && *line == LineReader::droppedLine)
            ui.print("error: a line longer than " + std::to_string(LineReader::longestLine) +
                     " bytes was ignored");
        else if (line)
            runLine(session, *line);
        else if (input.atEnd() && !underSession)
            session.quit = true; // nobody is left to answer a question
        else if (input.atEnd())
            ::poll(nullptr, 0, static_cast<int>(std::max<int64_t>(wait.count(), 1)));
        // The session manager ends its clients so; it asked them to save first.
        if (RemoteControl::terminationRequested()) break;
        if (Clock::now() >= nextTick) {
            app.onTick();
            nextTick = Clock::now() + tick;
        }
        if (Clock::now() >= nextAutosave) {
            app.onAutosave();
            nextAutosave = Clock::now() + autosaveEvery;
        }
    }
    app.onTick();
    app.willTerminate();
    return 0;
}

const char *headlessHelp() {
    return R"(usage: Halvora --headless [--osc-port PORT] [PROJECT.halvora]

Runs the application without a window: opens the project (or the start-up project),
starts audio (JACK, ALSA or the null device, as remembered in the settings), offers crash
recovery, and reads one operation per line on standard input, printing every status text
on standard output:
  new | open [PROJECT] | save | save-as [--force] [PROJECT] | collect
  import FILE... | export [OUT.wav] | export-cycle [OUT.wav] | export-track [OUT.wav]
  import-midi [FILE.mid] | export-midi OUT.mid
  select-track NAME | cycle START END | add-track [NAME] | undo | redo
  play | stop | autosave | status | quit
Questions ("? ...") are answered by the next line: a button's text or number, or a path
(an empty line cancels). The end of the input quits as "quit" does. "save-as" does not
replace another project already at PROJECT unless given --force, and never writes through
a symbolic link.
--osc-port PORT listens for remote control on this computer's loopback address (see
README.md for the /halvora namespace). With NSM_URL set, Halvora joins that session
manager: it opens and saves where the manager says, leaves new/open/save-as to it, keeps
running at the end of the input and quits on SIGTERM.
)";
}

} // namespace orvane
