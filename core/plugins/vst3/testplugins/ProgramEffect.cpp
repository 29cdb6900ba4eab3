// An effect with a program list, for tests of factory programs: one parameter, "Gain", scales
// the input linearly, and a program-change parameter picks one of three programs, each a gain
// ("Unity" 1, "Half" 0.5, "Quiet" 0.1). The processor applies the program itself, so its state
// holds the program's gain. "Gain" sits in a unit of its own, "Level"; the program's parameter
// in the root unit.
#include "core/plugins/vst3/testplugins/TestPluginSupport.h"

#include <pluginterfaces/vst/ivstunits.h>

#include <algorithm>
#include <cmath>

namespace orvane::vst::testplugins {
namespace {

constexpr uint32 stateMagic = 0x48565047; // "HVPG"
constexpr ParamID gainId = 0;
constexpr ParamID programId = 1;
constexpr ProgramListID programListId = 7;
constexpr UnitID levelUnitId = 1;
constexpr int32 programCount = 3;
constexpr const char *programNames[programCount] = {"Unity", "Half", "Quiet"};
constexpr double programGains[programCount] = {1.0, 0.5, 0.1};

class ProgramEffect : public TestPluginBase, public IUnitInfo {
  public:
    ProgramEffect() : TestPluginBase({2, 2, false}) { controllerValues[gainId] = 1.0; }

    int32 parameterCount() override { return 2; }
    void describeParameter(int32 index, ParameterInfo &info) override {
        if (index == 0) {
            info.id = gainId;
            copyTitle("Gain", info.title);
            info.defaultNormalizedValue = 1.0;
            info.flags = ParameterInfo::kCanAutomate;
            info.unitId = levelUnitId;
            return;
        }
        info.id = programId;
        copyTitle("Program", info.title);
        info.stepCount = programCount - 1;
        info.unitId = kRootUnitId;
        info.flags = ParameterInfo::kIsProgramChange | ParameterInfo::kIsList;
    }

    tresult processAudio(ProcessData &data) override {
        double values[8] = {gain.load(), program.load()};
        applyParameterChanges(data.inputParameterChanges, values);
        if (values[programId] != program.load()) {
            program.store(values[programId]);
            values[gainId] = programGains[programIndex(values[programId])];
        }
        gain.store(values[gainId]);
        if (data.numInputs < 1 || data.numOutputs < 1) return kResultOk;
        const auto g = static_cast<float>(gain.load());
        for (int32 channel = 0; channel < 2; ++channel)
            for (int32 frame = 0; frame < data.numSamples; ++frame)
                data.outputs[0].channelBuffers32[channel][frame] =
                    g * data.inputs[0].channelBuffers32[channel][frame];
        return kResultOk;
    }

    tresult writeState(IBStream &stream) override {
        const auto stored = static_cast<float>(gain.load());
        return writeExactly(stream, &stateMagic, 4) && writeExactly(stream, &stored, 4)
                   ? kResultOk
                   : kResultFalse;
    }
    tresult readState(IBStream &stream) override {
        uint32 magic = 0;
        float stored = 0.0f;
        if (!readExactly(stream, &magic, 4) || magic != stateMagic ||
            !readExactly(stream, &stored, 4) || !(stored >= 0.0f && stored <= 1.0f))
            return kResultFalse;
        gain.store(stored);
        controllerValues[gainId] = stored;
        return kResultOk;
    }

    // IUnitInfo: the root unit uses the one program list; "Level" holds the gain.
    int32 PLUGIN_API getUnitCount() override { return 2; }
    tresult PLUGIN_API getUnitInfo(int32 index, UnitInfo &info) override {
        if (index < 0 || index > 1) return kInvalidArgument;
        info.id = index == 0 ? kRootUnitId : levelUnitId;
        info.parentUnitId = index == 0 ? kNoParentUnitId : kRootUnitId;
        copyTitle(index == 0 ? "Root" : "Level", info.name);
        info.programListId = index == 0 ? programListId : kNoProgramListId;
        return kResultOk;
    }
    int32 PLUGIN_API getProgramListCount() override { return 1; }
    tresult PLUGIN_API getProgramListInfo(int32 index, ProgramListInfo &info) override {
        if (index != 0) return kInvalidArgument;
        info.id = programListId;
        copyTitle("Factory", info.name);
        info.programCount = programCount;
        return kResultOk;
    }
    tresult PLUGIN_API getProgramName(ProgramListID list, int32 index, String128 name) override {
        if (list != programListId || index < 0 || index >= programCount) return kInvalidArgument;
        copyTitle(programNames[index], name);
        return kResultOk;
    }
    tresult PLUGIN_API getProgramInfo(ProgramListID, int32, Steinberg::Vst::CString,
                                      String128) override {
        return kNotImplemented;
    }
    tresult PLUGIN_API hasProgramPitchNames(ProgramListID, int32) override { return kResultFalse; }
    tresult PLUGIN_API getProgramPitchName(ProgramListID, int32, int16, String128) override {
        return kNotImplemented;
    }
    UnitID PLUGIN_API getSelectedUnit() override { return kRootUnitId; }
    tresult PLUGIN_API selectUnit(UnitID) override { return kResultOk; }
    tresult PLUGIN_API getUnitByBus(MediaType, BusDirection, int32, int32, UnitID &) override {
        return kNotImplemented;
    }
    tresult PLUGIN_API setUnitProgramData(int32, int32, IBStream *) override {
        return kNotImplemented;
    }

    tresult PLUGIN_API queryInterface(const TUID iid, void **object) override {
        QUERY_INTERFACE(iid, object, IUnitInfo::iid, IUnitInfo)
        return TestPluginBase::queryInterface(iid, object);
    }
    uint32 PLUGIN_API addRef() override { return TestPluginBase::addRef(); }
    uint32 PLUGIN_API release() override { return TestPluginBase::release(); }

  private:
    static int32 programIndex(double normalized) {
        return std::clamp(static_cast<int32>(std::lround(normalized * (programCount - 1))), 0,
                          programCount - 1);
    }

    std::atomic<double> gain{1.0};
    std::atomic<double> program{0.0};
};

} // namespace
} // namespace orvane::vst::testplugins

orvane::vst::testplugins::TestPluginBase *makeTestPlugin() {
    return new orvane::vst::testplugins::ProgramEffect();
}

const orvane::vst::testplugins::TestPluginClass &testPluginClass() {
    static const orvane::vst::testplugins::TestPluginClass info{
        INLINE_UID(0x48565052, 0x4F475241, 0x4D454646, 0x45435431), "Halvora Program Effect", "Fx"};
    return info;
}
