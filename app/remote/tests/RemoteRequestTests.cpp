#include "app/remote/RemoteRequest.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace orvane::remote;

namespace {

OscMessage message(const std::string &path, std::vector<OscValue> arguments = {}) {
    OscMessage built;
    built.path = path;
    for (const OscValue &value : arguments)
        built.types += value.type;
    built.arguments = std::move(arguments);
    return built;
}

OscValue truth(bool value) { return {value ? 'T' : 'F', value, 0.0, {}}; }

struct TakenCase {
    OscMessage message;
    RemoteAction action;
    int32_t track;
    int32_t index;
    double value;
};

TEST(RemoteRequest, DecodesEveryAddressOfTheNamespace) {
    const TakenCase cases[] = {
        {message("/halvora/play"), RemoteAction::Play, 0, 0, 0.0},
        {message("/halvora/stop"), RemoteAction::Stop, 0, 0, 0.0},
        {message("/halvora/record"), RemoteAction::Record, 0, 0, 0.0},
        {message("/halvora/undo"), RemoteAction::Undo, 0, 0, 0.0},
        {message("/halvora/redo"), RemoteAction::Redo, 0, 0, 0.0},
        {message("/halvora/state"), RemoteAction::State, 0, 0, 0.0},
        {message("/halvora/locate", {OscValue::ofFloat(2.5f)}), RemoteAction::LocateSeconds, 0, 0,
         2.5},
        {message("/halvora/locate", {OscValue::ofInt(3)}), RemoteAction::LocateSeconds, 0, 0, 3.0},
        {message("/halvora/locate_beats", {OscValue::ofDouble(8.0)}), RemoteAction::LocateBeats, 0,
         0, 8.0},
        {message("/halvora/goto_marker", {OscValue::ofInt(2)}), RemoteAction::GotoMarker, 0, 2,
         0.0},
        {message("/halvora/track/3/mute", {OscValue::ofInt(1)}), RemoteAction::TrackMute, 3, 0,
         1.0},
        {message("/halvora/track/3/mute", {truth(false)}), RemoteAction::TrackMute, 3, 0, 0.0},
        {message("/halvora/track/1/solo", {OscValue::ofFloat(1.0f)}), RemoteAction::TrackSolo, 1, 0,
         1.0},
        {message("/halvora/track/12/arm", {OscValue::ofInt(0)}), RemoteAction::TrackArm, 12, 0,
         0.0},
        {message("/halvora/track/2/gain", {OscValue::ofFloat(0.25f)}), RemoteAction::TrackGain, 2,
         0, 0.25},
        {message("/halvora/track/2/pan", {OscValue::ofDouble(-1.0)}), RemoteAction::TrackPan, 2, 0,
         -1.0},
        {message("/halvora/track/2/send/4", {OscValue::ofFloat(0.5f)}), RemoteAction::TrackSend, 2,
         4, 0.5},
        {message("/halvora/track/7"), RemoteAction::TrackQuery, 7, 0, 0.0},
        {message("/halvora/scene/launch", {OscValue::ofInt(2)}), RemoteAction::SceneLaunch, 0, 2,
         0.0},
        {message("/halvora/clip/launch", {OscValue::ofInt(1), OscValue::ofFloat(3.0f)}),
         RemoteAction::ClipLaunch, 1, 3, 0.0},
    };
    for (const TakenCase &taken : cases) {
        SCOPED_TRACE(taken.message.path + " " + taken.message.types);
        std::string why;
        const auto request = decodeRemoteRequest(taken.message, why);
        ASSERT_TRUE(request) << why;
        EXPECT_EQ(request->action, taken.action);
        EXPECT_EQ(request->track, taken.track);
        EXPECT_EQ(request->index, taken.index);
        EXPECT_DOUBLE_EQ(request->value, taken.value);
    }
}

struct RefusedCase {
    OscMessage message;
    const char *reason; // a part of the explanation
};

TEST(RemoteRequest, RefusesWrongAddressesArgumentsAndRangesWithAReason) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    const RefusedCase cases[] = {
        {message("/other/play"), "unknown address"},
        {message("/halvora"), "unknown address"},
        {message("/halvora/jump"), "unknown address"},
        {message("/halvora/play", {OscValue::ofInt(1)}), "takes no arguments"},
        {message("/halvora/locate"), "takes one number"},
        {message("/halvora/locate", {OscValue::ofString("10")}), "takes one number"},
        {message("/halvora/locate", {OscValue::ofDouble(-1.0)}), "out of range"},
        {message("/halvora/locate", {OscValue::ofDouble(nan)}), "out of range"},
        {message("/halvora/locate", {OscValue::ofDouble(infinity)}), "out of range"},
        {message("/halvora/goto_marker", {OscValue::ofFloat(1.5f)}), "out of range"},
        {message("/halvora/goto_marker", {OscValue::ofInt(0)}), "out of range"},
        {message("/halvora/track/0/mute", {OscValue::ofInt(1)}), "no such track"},
        {message("/halvora/track/-1/mute", {OscValue::ofInt(1)}), "no such track"},
        {message("/halvora/track/1x/mute", {OscValue::ofInt(1)}), "no such track"},
        {message("/halvora/track/99999999999/mute", {OscValue::ofInt(1)}), "no such track"},
        {message("/halvora/track/1/mute", {OscValue::ofInt(2)}), "takes 0 or 1"},
        {message("/halvora/track/1/mute"), "takes 0 or 1"},
        {message("/halvora/track/1/mute", {OscValue::ofInt(1), OscValue::ofInt(1)}),
         "takes 0 or 1"},
        {message("/halvora/track/1/gain", {OscValue::ofFloat(5.0f)}), "out of range"},
        {message("/halvora/track/1/gain", {OscValue::ofDouble(nan)}), "out of range"},
        {message("/halvora/track/1/pan", {OscValue::ofFloat(-1.5f)}), "out of range"},
        {message("/halvora/track/1/send/5", {OscValue::ofFloat(0.5f)}), "no such send"},
        {message("/halvora/track/1/send/1", {OscValue::ofFloat(-0.5f)}), "out of range"},
        {message("/halvora/track/1/volume", {OscValue::ofFloat(0.5f)}), "unknown address"},
        {message("/halvora/track/1", {OscValue::ofInt(1)}), "takes no arguments"},
        {message("/halvora/scene/launch", {OscValue::ofString("1")}), "takes one number"},
        {message("/halvora/clip/launch", {OscValue::ofInt(1)}), "a track and a slot"},
        {message("/halvora/clip/launch", {OscValue::ofInt(1), OscValue::ofDouble(nan)}),
         "a track and a slot"},
        {message("/halvora/clip/launch", {OscValue::ofInt(0), OscValue::ofInt(1)}),
         "a track and a slot"},
    };
    for (const RefusedCase &refused : cases) {
        SCOPED_TRACE(refused.message.path + " " + refused.message.types);
        std::string why;
        EXPECT_FALSE(decodeRemoteRequest(refused.message, why));
        EXPECT_NE(why.find(refused.reason), std::string::npos) << why;
    }
}

TEST(RemoteRequest, ATurnKeepsTheLastValueOfEachContinuousTargetAndEverySwitch) {
    using A = RemoteAction;
    const std::vector<RemoteRequest> turn = {
        {A::TrackGain, 1, 0, 0.1},     // 0: set again below
        {A::TrackGain, 2, 0, 0.2},     // 1: another track
        {A::TrackMute, 1, 0, 1.0},     // 2: switches are all carried out
        {A::TrackMute, 1, 0, 0.0},     // 3
        {A::TrackSend, 1, 1, 0.3},     // 4: set again below
        {A::TrackSend, 1, 2, 0.3},     // 5: another send
        {A::LocateSeconds, 0, 0, 1.0}, // 6: the playhead is placed again below, in beats
        {A::TrackGain, 1, 0, 0.4},     // 7
        {A::TrackSend, 1, 1, 0.5},     // 8
        {A::LocateBeats, 0, 0, 8.0},   // 9
        {A::TrackPan, 1, 0, 0.5},      // 10
    };
    EXPECT_EQ(requestsToCarryOut(turn), (std::vector<bool>{false, true, true, true, false, true,
                                                           false, true, true, true, true}));
    EXPECT_TRUE(requestsToCarryOut({}).empty());
}

} // namespace
