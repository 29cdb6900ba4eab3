#include "core/plugins/sandbox/SandboxedChain.h"

#include "core/plugins/sandbox/SandboxProtocol.h"

#include <algorithm>
#include <charconv>
#include <unistd.h>

namespace orvane::vst {

namespace {

// One below the application's audio thread, as for a helper of one plug-in.
constexpr int chainBlockPriority = 9;

std::string loadLine(const char *verb, const SandboxedChain::Member &member) {
    return std::string(verb) + member.path + (member.uid.empty() ? "" : " " + member.uid);
}

// Shortest text that reads back as the same number.
std::string exactText(double value) {
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

} // namespace

SandboxedChain::SandboxedChain(PluginSandboxController &sandbox) : controller(sandbox) {}

SandboxedChain::~SandboxedChain() { stop(true); }

bool SandboxedChain::load(const std::vector<Member> &chain) {
    stop(true);
    if (chain.empty() || chain.size() > maximumChainLength) return false;
    for (const Member &member : chain)
        if (!isSafeRequestArgument(member.path) || !isSafeRequestArgument(member.uid)) return false;
    members = chain;
    knownStates.assign(members.size(), std::nullopt);
    knownValues.assign(members.size(), {});
    stateFolders.assign(members.size(), {});
    lateBeforeRestart = 0;
    if (start()) return true;
    members.clear();
    knownStates.clear();
    knownValues.clear();
    stateFolders.clear();
    return false;
}

// The first member is the helper's own plug-in; the others follow it with "CHAINLOAD ".
bool SandboxedChain::start() {
    if (!controller.ensureSandboxRunning() || !controller.startPluginHelper(helper)) return false;
    fd = connectToSocket(helper.socketPath);
    bool loaded = fd >= 0 && expectOk(loadLine("LOAD ", members.front()));
    for (size_t index = 1; loaded && index < members.size(); ++index)
        loaded = expectOk(loadLine("CHAINLOAD ", members[index]));
    if (loaded && attachBlock()) return true;
    if (controller.lastError.empty()) controller.lastError = "Helper could not load the chain";
    stop(false);
    return false;
}

bool SandboxedChain::attachBlock() {
    auto mapping = std::make_unique<SharedBlockMapping>();
    std::string name;
    if (!mapping->create(name)) return false;
    const bool taken = expectOk("SHAREDBLOCK " + name + " " + std::to_string(chainBlockPriority));
    unlinkSharedBlock(name);
    if (!taken) return false;
    auto client = std::make_unique<SharedBlockClient>(std::move(mapping), fd);
    std::lock_guard lock(processing);
    block = std::move(client);
    return true;
}

void SandboxedChain::stop(bool askFirst) {
    {
        std::lock_guard lock(processing);
        block.reset();
    }
    if (fd >= 0) close(fd);
    fd = -1;
    stopHelperProcess(helper, askFirst);
}

// A request comes after the block in flight, whose values it should see; the audio thread
// meanwhile goes on without waiting for any lock of the request's.
bool SandboxedChain::exchange(const std::string &request, std::string &reply) {
    const Deadline deadline = Deadline::after(controlReplyDeadline);
    if (block &&
        block->finishBlock(block->lastSubmitted(), deadline) == SharedBlockOutcome::helperGone)
        return false;
    return fd >= 0 && oopWriteLine(fd, request) && oopReadReply(fd, reply, deadline);
}

bool SandboxedChain::expectOk(const std::string &request) {
    std::string reply;
    return exchange(request, reply) && reply.starts_with("OK");
}

std::string SandboxedChain::addressed(size_t member, const std::string &request) {
    return member == 0 ? request : "MEMBER " + std::to_string(member) + " " + request;
}

bool SandboxedChain::prepare(double rate, int frames) {
    if (fd < 0 || frames < 1 || frames > maximumPrepareFrames) return false;
    std::string reply;
    if (!exchange("PREPARE " + exactText(rate) + " " + std::to_string(frames), reply) ||
        !reply.starts_with("OK"))
        return false;
    int32_t reported = 0;
    const std::string_view digits = std::string_view(reply).substr(2);
    const auto begin = digits.find_first_not_of(' ');
    if (begin != std::string_view::npos)
        std::from_chars(digits.data() + begin, digits.data() + digits.size(), reported);
    sampleRate = rate;
    blockSize = frames;
    pluginLatency = std::max(reported, 0);
    std::lock_guard lock(processing);
    if (block) block->prepare(blockSize, sampleRate, pluginLatency);
    return true;
}

int32_t SandboxedChain::liveLatency() const { return block ? block->addedLatency() : 0; }

bool SandboxedChain::setParameter(size_t member, uint32_t id, float value) {
    if (member >= members.size() ||
        !expectOk(addressed(member, "SETPARAM " + std::to_string(id) + " " +
                                        exactText(static_cast<double>(value)))))
        return false;
    knownValues[member][id] = value;
    return true;
}

std::optional<float> SandboxedChain::knownValue(size_t member, uint32_t id) const {
    if (member >= knownValues.size()) return std::nullopt;
    const auto found = knownValues[member].find(id);
    return found == knownValues[member].end() ? std::nullopt : std::optional<float>(found->second);
}

bool SandboxedChain::getState(size_t member, std::vector<uint8_t> &state) {
    std::string reply;
    if (member >= members.size() || !exchange(addressed(member, "GETSTATE"), reply) ||
        !reply.starts_with("STATE "))
        return false;
    std::optional<std::vector<uint8_t>> decoded =
        decodeHex(std::string_view(reply).substr(6), false);
    if (!decoded) return false;
    state = *decoded;
    knownStates[member] = std::move(*decoded);
    return true;
}

bool SandboxedChain::setState(size_t member, const std::vector<uint8_t> &state) {
    if (member >= members.size() || !expectOk(addressed(member, "SETSTATE " + encodeHex(state))))
        return false;
    knownStates[member] = state;
    knownValues[member].clear();
    return true;
}

bool SandboxedChain::setStateFolder(size_t member, const std::string &folder) {
    if (member >= members.size() || !isSafeRequestArgument(folder) ||
        !expectOk(addressed(member, "STATEFOLDER " + folder)))
        return false;
    stateFolders[member] = folder;
    return true;
}

bool SandboxedChain::openEditor(size_t member) {
    return member < members.size() && expectOk(addressed(member, "OPENEDITOR"));
}

EditorStatus SandboxedChain::pollEditor(size_t member, std::vector<ParameterValue> &edits) {
    edits.clear();
    std::string reply;
    if (member >= members.size()) return EditorStatus::closed;
    if (!exchange(addressed(member, "EDITORSTATE"), reply)) return EditorStatus::crashed;
    return parseEditorReport(reply, edits).value_or(EditorStatus::closed);
}

void SandboxedChain::closeEditor(size_t member) {
    // A window the helper fails to close goes with the helper when it ends.
    if (member < members.size()) (void)expectOk(addressed(member, "CLOSEEDITOR"));
}

std::vector<PluginParameterInfo> SandboxedChain::listParameters(size_t member) {
    std::string reply;
    if (member >= members.size() || !exchange(addressed(member, "PARAMETERS"), reply)) return {};
    std::vector<PluginParameterInfo> listed =
        parseParameterList(reply).value_or(std::vector<PluginParameterInfo>());
    for (const PluginParameterInfo &parameter : listed)
        knownValues[member][parameter.id] = parameter.normalizedValue;
    return listed;
}

std::string SandboxedChain::parameterValueText(size_t member, uint32_t id, float value) {
    std::string reply;
    if (member >= members.size() ||
        !exchange(addressed(member, formatValueTextRequest(id, std::clamp(value, 0.0f, 1.0f))),
                  reply))
        return {};
    return parseValueText(reply).value_or(std::string());
}

std::vector<PluginProgram> SandboxedChain::factoryPrograms(size_t member) {
    std::string reply;
    if (member >= members.size() || !exchange(addressed(member, "PROGRAMS"), reply)) return {};
    return parseProgramList(reply).value_or(std::vector<PluginProgram>());
}

bool SandboxedChain::programState(size_t member, const PluginProgram &program,
                                  std::vector<uint8_t> &state, std::string &error) {
    std::string reply;
    if (member >= members.size() ||
        !exchange(addressed(member, formatProgramStateRequest(program)), reply))
        reply.clear();
    return readProgramStateReply(reply, program, state, error);
}

void SandboxedChain::setMemberBypassRt(size_t member, bool bypassed) {
    if (member < members.size()) staged[member].bypassed = bypassed;
}

bool SandboxedChain::setMemberParameterRt(size_t member, uint32_t id, float value) {
    if (member >= members.size()) return false;
    StagedMember &into = staged[member];
    const auto held = into.values.begin() + static_cast<std::ptrdiff_t>(into.count);
    const auto same = std::find_if(into.values.begin(), held,
                                   [id](const ParameterValue &entry) { return entry.id == id; });
    if (same != held) {
        same->value = value;
        return true;
    }
    if (into.count == into.values.size()) return false;
    into.values[into.count++] = {id, value};
    return true;
}

namespace {

size_t valuesInOneBlock(size_t staged) {
    return std::min(staged, static_cast<size_t>(maximumParamsPerLine));
}

} // namespace

SharedBlockClient::BlockExtras
SandboxedChain::stagedExtras(std::span<const NoteOn> noteOns, std::span<const int> noteOffs,
                             std::span<const int32_t> noteOffFrames) {
    for (size_t member = 0; member < members.size(); ++member)
        memberExtras[member] = {
            staged[member].bypassed,
            std::span(staged[member].values.data(), valuesInOneBlock(staged[member].count))};
    return {{}, noteOns, noteOffs, std::span(memberExtras.data(), members.size()), noteOffFrames};
}

// Values go once; a bypass flag holds until it is changed.
void SandboxedChain::dropSentValues() {
    for (StagedMember &member : staged) {
        const size_t sent = valuesInOneBlock(member.count);
        const auto first = member.values.begin();
        std::copy(first + static_cast<std::ptrdiff_t>(sent),
                  first + static_cast<std::ptrdiff_t>(member.count), first);
        member.count -= sent;
    }
}

// A helper that let a patient wait pass is stuck, not late: waiting for it again each block
// would hold a render up for nothing.
bool SandboxedChain::missOfflineBlock(bool patient) {
    if (patient) stuck.store(true, std::memory_order_relaxed);
    offlineMisses.fetch_add(1, std::memory_order_relaxed);
    return false;
}

bool SandboxedChain::process(float *left, float *right, int frames, Deadline deadline,
                             std::span<const NoteOn> noteOns, std::span<const int> noteOffs,
                             std::span<const int32_t> noteOffFrames) {
    std::lock_guard lock(processing);
    if (!block || frames < 1 || left == nullptr || right == nullptr) return false;
    if (stuck.load(std::memory_order_relaxed)) return missOfflineBlock(false);
    const bool patient =
        deadline.unlimited || deadline.at - std::chrono::steady_clock::now() >= stuckAfter;
    SharedBlockClient::BlockExtras extras = stagedExtras(noteOns, noteOffs, noteOffFrames);
    for (int offset = 0; offset < frames; offset += maximumProcessFrames) {
        const int count = std::min(frames - offset, maximumProcessFrames);
        bool extrasSent = false;
        const SharedBlockOutcome outcome =
            block->processNow(left + offset, right + offset, count, extras, deadline, extrasSent);
        if (extrasSent) dropSentValues();
        if (outcome == SharedBlockOutcome::helperGone) return missOfflineBlock(true);
        if (outcome == SharedBlockOutcome::late) return missOfflineBlock(patient);
        // The rest of a long block hears the same bypass flags, no notes again, and the values
        // the part before it had no room for.
        extras = stagedExtras({}, {});
    }
    return true;
}

bool SandboxedChain::processLive(float *left, float *right, int frames, Deadline patience,
                                 std::span<const NoteOn> noteOns, std::span<const int> noteOffs,
                                 std::span<const int32_t> noteOffFrames) {
    std::unique_lock lock(processing, std::try_to_lock);
    if (!lock.owns_lock() || !block || left == nullptr || right == nullptr) return false;
    bool extrasSent = false;
    const bool played = block->processBehind(
        left, right, frames, stagedExtras(noteOns, noteOffs, noteOffFrames), patience, extrasSent);
    if (extrasSent) dropSentValues();
    return played;
}

LoadStretch SandboxedChain::takeHelperLoad(size_t member) {
    return block ? block->takeHelperLoad(member) : LoadStretch{};
}

uint64_t SandboxedChain::lateBlocks() const {
    return lateBeforeRestart + offlineMisses.load(std::memory_order_relaxed) +
           (block ? block->lateBlocks() : 0);
}

SandboxedChain::Recovery SandboxedChain::restartLostHelper() {
    if (!block || members.empty()) return Recovery::notNeeded;
    const bool missedForASecond = block->stuckForASecond();
    const bool stuckOffline = stuck.load(std::memory_order_relaxed);
    const bool gone = helper.pid < 1 || helperExitedWithin(helper, {});
    if (!missedForASecond && !stuckOffline && !gone) return Recovery::notNeeded;
    const uint64_t lateSoFar = lateBeforeRestart + block->lateBlocks();
    stop(false);
    stuck.store(false, std::memory_order_relaxed);
    lateBeforeRestart = lateSoFar;
    controller.lastError.clear();
    if (!start()) {
        controller.lastError = "Helper lost and not restarted: " + controller.lastError;
        return Recovery::failed;
    }
    bool restored = true;
    for (size_t member = 0; member < members.size(); ++member) {
        if (!stateFolders[member].empty())
            restored = setStateFolder(member, stateFolders[member]) && restored;
        if (knownStates[member]) restored = setState(member, *knownStates[member]) && restored;
    }
    // Without its members' states the helper would play, and later save, their defaults: it
    // is stopped instead, the group passes blocks on dry and the saved states stay as they are.
    if (!restored || (blockSize > 0 && !prepare(sampleRate, blockSize))) {
        stop(false);
        controller.lastError = "Helper lost and not restarted: its plug-ins refused their state";
        return Recovery::failed;
    }
    controller.lastError = gone               ? "Helper restarted: process was gone"
                           : missedForASecond ? "Helper restarted: missed blocks for a second"
                                              : "Helper restarted: an offline block timed out";
    return Recovery::restarted;
}

} // namespace orvane::vst
