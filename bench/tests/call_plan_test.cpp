#include <gtest/gtest.h>

#include "call_plan.h"
#include "client/listing_entry.h"

namespace
{

bool changes(Method method)
{
    return method != Method::QUERY_PRESETS && method != Method::GET_PRESETS &&
           method != Method::GET_PTZ_PRESET_STATE;
}

// Whether the channel's listing, read as the service reads it, holds exactly 1 to last.
bool numbers_run_to(const ChannelModel &channel, gint32 last)
{
    GVariantBuilder entries;
    g_variant_builder_init(&entries, G_VARIANT_TYPE("as"));
    for (const std::string &entry : listing_of(channel, false))
        g_variant_builder_add(&entries, "s", entry.c_str());
    g_autoptr(GVariant) listing = g_variant_ref_sink(g_variant_new("(as)", &entries));
    return listing_numbers_run_to(listing, last);
}

// Plays the planned calls on the model as the stand-in answers them; the echoes in order.
std::vector<CameraSignal> replay(CameraModel &camera, const std::vector<PlannedCall> &plan,
                                 const CameraSignal &action)
{
    std::vector<CameraSignal> echoes;
    for (const PlannedCall &call : plan) {
        ChannelModel &c = *channel_of(camera, call.channel);
        CameraSignal echo;
        bool ok = true;
        switch (call.method) {
        case Method::SET_PRESET_NAME:
            ok = apply_set_preset_name(c, call.channel, action.name.c_str(), false, &echo);
            break;
        case Method::SET_PRESET_NUMBER:
            ok = apply_set_preset_number(c, call.channel, action.number, false, &echo);
            break;
        case Method::RENAME_PRESET:
            ok = apply_rename_preset(c, call.channel, action.number, action.name.c_str(), &echo);
            break;
        case Method::UPDATE_PRESET:
            ok = apply_update_preset(c, call.channel, action.number, action.name.c_str(), &echo);
            break;
        case Method::REMOVE_PRESET_NAME:
            ok = apply_remove_preset_name(c, call.channel, action.name.c_str(), &echo);
            break;
        case Method::GOTO_PRESET_NUMBER:
            ok = apply_goto_preset(c, call.channel, action.number, &echo);
            break;
        default:
            continue;
        }
        EXPECT_TRUE(ok) << method_name(call.method) << " on channel " << call.channel;
        echoes.push_back(echo);
    }
    return echoes;
}

TEST(CallPlan, RequiredCallsMatchTheDesignForEveryKindAndChannelCount)
{
    for (gint32 k : {2, 3, 4, 8, 16}) {
        gsize others = static_cast<gsize>(k - 1);
        EXPECT_EQ(required_calls(MirrorKind::RECALL, k, 1).size(), 2 * others);
        EXPECT_EQ(required_calls(MirrorKind::CREATE_BY_NAME, k, 1).size(), 1 + 2 * others);
        EXPECT_EQ(required_calls(MirrorKind::CREATE_BY_NUMBER, k, 1).size(), 1 + 3 * others);
        EXPECT_EQ(required_calls(MirrorKind::UPDATE_MOVED, k, 1).size(), 1 + 2 * others);
        EXPECT_EQ(required_calls(MirrorKind::REMOVE, k, 1).size(), 2 * others);
    }
}

TEST(CallPlan, ChangesGoToEveryOtherChannelInAscendingOrder)
{
    for (int kind = 0; kind < MIRROR_KIND_COUNT; kind++) {
        std::vector<gint32> changed;
        for (const PlannedCall &call : required_calls(static_cast<MirrorKind>(kind), 5, 3)) {
            if (changes(call.method) && (changed.empty() || changed.back() != call.channel))
                changed.push_back(call.channel);
        }
        EXPECT_EQ(changed, (std::vector<gint32>{1, 2, 4, 5}))
            << kind_name(static_cast<MirrorKind>(kind));
    }
}

// The echo calls follow from the echoes that the planned calls make the camera send: each comes
// from a channel the plan changed, with the action's number, one per changing call made there
// (a recall's goto, a creation's save and rename), so the action's record owes every one of them
// and none costs a call.
TEST(CallPlan, EchoCallsFollowFromTheEchoesOfThePlannedCalls)
{
    for (gint32 k : {2, 3, 4, 8, 16}) {
        for (int kind = 0; kind < MIRROR_KIND_COUNT; kind++) {
            auto mirror = static_cast<MirrorKind>(kind);
            SCOPED_TRACE(std::string(kind_name(mirror)) + ", " + std::to_string(k) + " channels");
            CameraModel camera = make_camera(k, LISTED_PRESETS);
            const gint32 source = 1;
            CameraSignal action = prepare_repetition(camera, mirror, source, 0);
            std::vector<PlannedCall> plan = required_calls(mirror, k, source);
            std::vector<CameraSignal> echoes = replay(camera, plan, action);
            std::vector<guint> owed(static_cast<gsize>(k) + 1), echoed(owed.size());
            for (const PlannedCall &call : plan)
                owed[static_cast<gsize>(call.channel)] += changes(call.method);
            for (const CameraSignal &echo : echoes) {
                EXPECT_EQ(echo.number, action.number);
                echoed[static_cast<gsize>(echo.channel)]++;
            }
            EXPECT_EQ(echoed, owed);
            EXPECT_EQ(echoed[source], 0u);
            EXPECT_EQ(service_echo_calls(mirror, k), MethodCounts{});
        }
    }
}

// Each repetition must take the path the benchmark names, and the echoes of the planned changes
// must carry the number and name under which the service records them, or the service would
// mirror its own echoes and the call counts would not hold.
TEST(CallPlan, PreparedActionsTakeTheirPathAndEchoWhatTheServiceRecords)
{
    const gint32 k = 4;
    for (int kind = 0; kind < MIRROR_KIND_COUNT; kind++) {
        auto mirror = static_cast<MirrorKind>(kind);
        for (guint rep = 0; rep < 2; rep++) {
            CameraModel camera = make_camera(k, LISTED_PRESETS);
            gint32 source = 2;
            CameraSignal action = prepare_repetition(camera, mirror, source, rep);
            ChannelModel &origin = *channel_of(camera, source);
            EXPECT_EQ(action.channel, source);
            gint32 count = static_cast<gint32>(origin.presets.size());
            bool others_run_below = true;
            for (gint32 n = 1; n <= k; n++) {
                if (n != source)
                    others_run_below = others_run_below &&
                                       numbers_run_to(*channel_of(camera, n), action.number - 1);
            }
            std::vector<CameraSignal> echoes =
                replay(camera, required_calls(mirror, k, source), action);
            SCOPED_TRACE(kind_name(mirror));
            switch (mirror) {
            case MirrorKind::RECALL:
                EXPECT_EQ(origin.reported_preset, action.number);
                for (const CameraSignal &echo : echoes)
                    EXPECT_EQ(echo.number, action.number);
                for (const ChannelModel &c : camera.channels)
                    EXPECT_EQ(c.reported_preset, action.number);
                break;
            case MirrorKind::CREATE_BY_NAME:
                // By name only where the new count is the number and each other channel holds
                // the numbers below it and no other.
                EXPECT_EQ(count, action.number);
                EXPECT_TRUE(others_run_below);
                EXPECT_EQ(echoes[0].number, action.number);
                EXPECT_EQ(echoes[0].name, action.name);
                break;
            case MirrorKind::CREATE_BY_NUMBER:
                EXPECT_NE(count, action.number);
                EXPECT_EQ(echoes[0].change, CHANGE_CREATED);
                EXPECT_EQ(echoes[0].name, "Pos" + std::to_string(action.number));
                EXPECT_EQ(echoes[1].change, CHANGE_UPDATED);
                EXPECT_EQ(echoes[1].name, action.name);
                break;
            case MirrorKind::UPDATE_MOVED:
                EXPECT_EQ(echoes[0].name, action.name);
                // Later echoes must find nothing moved, or each would be mirrored again.
                for (ChannelModel &c : camera.channels)
                    EXPECT_NEAR(find_preset(c, action.number)->pan,
                                find_preset(origin, action.number)->pan, 1.0);
                break;
            case MirrorKind::REMOVE:
                EXPECT_EQ(echoes[0].change, CHANGE_REMOVED);
                EXPECT_EQ(echoes[0].name, action.name);
                for (ChannelModel &c : camera.channels)
                    EXPECT_EQ(find_preset(c, action.number), nullptr);
                break;
            }
            EXPECT_EQ(
                echoes.size(),
                static_cast<gsize>(mirror == MirrorKind::CREATE_BY_NUMBER ? 2 * (k - 1) : k - 1));
        }
    }
}

TEST(CallPlan, RecallsAlternateThePresetSoEachRepetitionMovesTheOthers)
{
    CameraModel camera = make_camera(3, LISTED_PRESETS);
    CameraSignal first = prepare_repetition(camera, MirrorKind::RECALL, 1, 0);
    CameraSignal second = prepare_repetition(camera, MirrorKind::RECALL, 2, 1);
    EXPECT_NE(first.number, second.number);
    for (gint32 n : {1, 3})
        EXPECT_NE(channel_of(camera, n)->reported_preset, second.number);
}

} // namespace
