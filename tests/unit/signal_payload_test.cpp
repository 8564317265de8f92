#include <gtest/gtest.h>

#include "config_mirror/change_intake.h"
#include "recall_mirror/recall_payloads.h"

namespace
{

GVariant *sunk(GVariant *value)
{
    return g_variant_ref_sink(value);
}

GVariant *change_with_flags(std::initializer_list<std::pair<const char *, bool>> flags)
{
    GVariantBuilder flag_builder;
    g_variant_builder_init(&flag_builder, G_VARIANT_TYPE("a{sb}"));
    for (const auto &flag : flags)
        g_variant_builder_add(&flag_builder, "{sb}", flag.first, flag.second);
    return sunk(g_variant_new("(usua{sb}@a{sv})", 5u, "Gate", 2u, &flag_builder,
                              g_variant_new("a{sv}", nullptr)));
}

int set_home_of(GVariant *payload)
{
    ConfigurationChange change{};
    EXPECT_TRUE(decode_configuration_change(payload, &change));
    g_free(change.name);
    return change.set_home;
}

TEST(ConfigurationPayload, DecodesNumberNameAndKind)
{
    g_autoptr(GVariant) payload = change_with_flags({});
    ConfigurationChange change{};
    ASSERT_TRUE(decode_configuration_change(payload, &change));
    EXPECT_EQ(change.preset_id, 5u);
    EXPECT_STREQ(change.name, "Gate");
    EXPECT_EQ(change.kind, 2u);
    EXPECT_EQ(change.set_home, 0);
    g_free(change.name);
}

TEST(ConfigurationPayload, AnyTrueSetHomeWinsAndTheKeyIsCaseSensitive)
{
    struct {
        std::initializer_list<std::pair<const char *, bool>> flags;
        int set_home;
    } cases[] = {
        {{}, 0},
        {{{"SET_HOME", false}}, 0},
        {{{"SET_HOME", true}}, 1},
        {{{"SET_HOME", false}, {"SET_HOME", true}}, 1},
        {{{"SET_HOME", true}, {"SET_HOME", false}}, 1},
        {{{"set_home", true}}, 0},
        {{{"Set_Home", true}, {"OTHER", true}}, 0},
    };
    for (const auto &c : cases) {
        g_autoptr(GVariant) payload = change_with_flags(c.flags);
        EXPECT_EQ(set_home_of(payload), c.set_home);
    }
}

TEST(ConfigurationPayload, OtherTypesAreRefused)
{
    GVariant *payloads[] = {
        sunk(g_variant_new("(usu)", 5u, "Gate", 1u)),
        sunk(g_variant_new("(isua{sb}a{sv})", 5, "Gate", 1u, nullptr, nullptr)),
        sunk(g_variant_new("(usua{sb}a{sv}u)", 5u, "Gate", 1u, nullptr, nullptr, 0u)),
        sunk(g_variant_new("(iii)", 1, 2, 3)),
    };
    for (GVariant *payload : payloads) {
        ConfigurationChange change{};
        EXPECT_FALSE(decode_configuration_change(payload, &change))
            << g_variant_get_type_string(payload);
        EXPECT_EQ(change.name, nullptr);
        g_variant_unref(payload);
    }
    ConfigurationChange change{};
    EXPECT_FALSE(decode_configuration_change(nullptr, &change));
}

TEST(RecallPayloads, ThreeIntsAreReadAnythingElseIsZero)
{
    g_autoptr(GVariant) state = sunk(g_variant_new("(iii)", 2, 7, 1));
    PresetState decoded = decode_preset_state(state);
    EXPECT_EQ(decoded.channel, 2);
    EXPECT_EQ(decoded.preset, 7);
    EXPECT_EQ(decoded.state, 1);

    g_autoptr(GVariant) speed = sunk(g_variant_new("(iii)", 1, -10, 3));
    PresetSpeed announced = decode_preset_speed(speed);
    EXPECT_EQ(announced.speed, -10);
    EXPECT_EQ(announced.space, 3);

    g_autoptr(GVariant) wrong = sunk(g_variant_new("(uuu)", 2u, 7u, 1u));
    EXPECT_EQ(decode_preset_state(wrong).state, 0);
    EXPECT_EQ(decode_preset_speed(wrong).speed, 0);
    EXPECT_EQ(decode_preset_speed(wrong).space, 0);
    g_autoptr(GVariant) short_payload = sunk(g_variant_new("(ii)", 2, 7));
    EXPECT_EQ(decode_preset_state(short_payload).preset, 0);
    EXPECT_EQ(decode_preset_state(nullptr).state, 0);
}

} // namespace
