#include <gtest/gtest.h>

#include "camera_model.h"
#include "client/listing_entry.h"

namespace
{

struct CameraTest : ::testing::Test {
    CameraModel camera = make_camera(2, 16);
    ChannelModel &channel = camera.channels[1];
    CameraSignal echo;
};

TEST_F(CameraTest, SavingByNumberNamesThePresetPosAndEchoesCreationThenUpdate)
{
    ASSERT_TRUE(apply_set_preset_number(channel, 2, 40, true, &echo));
    EXPECT_EQ(echo.kind, SignalKind::CONFIGURATION_CHANGED);
    EXPECT_EQ(echo.channel, 2);
    EXPECT_EQ(echo.change, CHANGE_CREATED);
    EXPECT_EQ(echo.number, 40);
    EXPECT_EQ(echo.name, "Pos40");
    EXPECT_TRUE(echo.home);
    EXPECT_EQ(channel.home, 40);
    // Saving an existing number again renames it too; a false home flag leaves the home.
    ASSERT_TRUE(apply_set_preset_number(channel, 2, 3, false, &echo));
    EXPECT_EQ(echo.change, CHANGE_UPDATED);
    EXPECT_FALSE(echo.home);
    EXPECT_EQ(find_preset(channel, 3)->name, "Pos3");
    EXPECT_EQ(channel.home, 40);
    EXPECT_FALSE(apply_set_preset_number(channel, 2, 0, false, &echo));
}

TEST_F(CameraTest, SavingByNameTakesTheLowestFreeNumberOrSavesTheNamedPresetAgain)
{
    ASSERT_TRUE(apply_set_preset_name(channel, 2, "Gate", false, &echo));
    EXPECT_EQ(echo.change, CHANGE_CREATED);
    EXPECT_EQ(echo.number, 17);
    forget_preset(channel, 3);
    ASSERT_TRUE(apply_set_preset_name(channel, 2, "Door", false, &echo));
    EXPECT_EQ(echo.number, 3);
    channel.head->pan = 99.0;
    ASSERT_TRUE(apply_set_preset_name(channel, 2, "Gate", true, &echo));
    EXPECT_EQ(echo.change, CHANGE_UPDATED);
    EXPECT_EQ(echo.number, 17);
    EXPECT_EQ(find_preset(channel, 17)->pan, 99.0);
    EXPECT_FALSE(apply_set_preset_name(channel, 2, "", false, &echo));
}

TEST_F(CameraTest, ChangesToMissingPresetsFailAndSignalNothing)
{
    echo = CameraSignal{};
    EXPECT_FALSE(apply_rename_preset(channel, 2, 40, "Gate", &echo));
    EXPECT_FALSE(apply_update_preset(channel, 2, 40, "Gate", &echo));
    EXPECT_FALSE(apply_remove_preset_name(channel, 2, "Gate", &echo));
    EXPECT_FALSE(apply_goto_preset(channel, 2, 40, &echo));
    EXPECT_EQ(echo.kind, SignalKind::NONE);
    EXPECT_EQ(channel.presets.size(), 16u);
}

TEST_F(CameraTest, UpdateStoresWhereTheHeadPointsAndRemoveGoesByName)
{
    *channel.head = {81.5, -2.0};
    channel.home = 8;
    ASSERT_TRUE(apply_update_preset(channel, 2, 8, "Porch", &echo));
    EXPECT_EQ(echo.change, CHANGE_UPDATED);
    EXPECT_EQ(echo.name, "Porch");
    EXPECT_EQ(find_preset(channel, 8)->pan, 81.5);
    EXPECT_EQ(find_preset(channel, 8)->tilt, -2.0);
    // Changes that do not make a preset home say so, even of the home preset.
    EXPECT_FALSE(echo.home);
    ASSERT_TRUE(apply_rename_preset(channel, 2, 8, "Yard", &echo));
    EXPECT_FALSE(echo.home);
    EXPECT_EQ(channel.home, 8);
    ASSERT_TRUE(apply_remove_preset_name(channel, 2, "Yard", &echo));
    EXPECT_EQ(echo.change, CHANGE_REMOVED);
    EXPECT_EQ(echo.number, 8);
    EXPECT_FALSE(echo.home);
    EXPECT_EQ(find_preset(channel, 8), nullptr);
    EXPECT_EQ(channel.home, 0);
}

TEST_F(CameraTest, GotoReportsThePresetAndPointsTheHeadOfEveryChannelAtIt)
{
    ASSERT_TRUE(apply_goto_preset(channel, 2, 5, &echo));
    EXPECT_EQ(echo.kind, SignalKind::PRESET_STATE);
    EXPECT_EQ(echo.channel, 2);
    EXPECT_EQ(echo.number, 5);
    EXPECT_EQ(echo.change, 1u);
    EXPECT_EQ(channel.reported_preset, 5);
    EXPECT_EQ(camera.channels[0].reported_preset, 1);
    EXPECT_EQ(camera.channels[0].head->pan, 50.0);
    EXPECT_EQ(camera.channels[0].head->tilt, -5.0);
}

TEST_F(CameraTest, ListingReadsBackThroughTheServiceScans)
{
    store_preset(channel, {40, "Front door", 12.25, -3.5});
    std::vector<std::string> full = listing_of(channel, true);
    ASSERT_EQ(full.size(), 17u);
    ListingEntry entry;
    ASSERT_TRUE(scan_entry_full(full.back().c_str(), &entry));
    EXPECT_EQ(entry.number, 40);
    EXPECT_STREQ(entry.name, "Front door");
    EXPECT_FLOAT_EQ(entry.pan, 12.25f);
    EXPECT_FLOAT_EQ(entry.tilt, -3.5f);
    // Without positions only the number can be read, as for the existence check.
    std::vector<std::string> short_form = listing_of(channel, false);
    gint32 number = 0;
    EXPECT_TRUE(scan_entry_number(short_form[0].c_str(), &number));
    EXPECT_EQ(number, 1);
    EXPECT_FALSE(scan_entry_full(short_form[0].c_str(), &entry));
}

TEST_F(CameraTest, StoredPresetsKeepNumberOrder)
{
    store_preset(channel, {0, "Zero", 0, 0});
    store_preset(channel, {9, "Nine", 0, 0});
    store_preset(channel, {99, "Last", 0, 0});
    EXPECT_EQ(channel.presets.front().number, 0);
    EXPECT_EQ(channel.presets[9].name, "Nine");
    EXPECT_EQ(channel.presets.back().number, 99);
    EXPECT_EQ(channel.presets.size(), 18u);
}

} // namespace
