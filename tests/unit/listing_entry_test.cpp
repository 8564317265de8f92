#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "client/listing_entry.h"

namespace
{

struct NumberCase {
    const char *entry;
    bool counts;
    gint32 number;
};

TEST(ListingEntry, ExistenceCheckReadsOnlyThePrefixAndNumber)
{
    const NumberCase cases[] = {
        {"presetposno12", true, 12},
        {"presetposno12=", true, 12},
        {"presetposno3=:pan=1:tilt=2", true, 3},
        {"presetposno7=Gate:pan=1.5:tilt=2:home=0", true, 7},
        {"presetposno08=Lead", true, 8},
        {"presetposno 5=Space", true, 5},
        {"presetposno-4=Minus", true, -4},
        {"presetposno2147483647=Max", true, 2147483647},
        {"presetposno-2147483648=Min", true, INT32_MIN},
        {"PresetPosNo3=Gate:pan=1:tilt=2", false, 0},
        {"presetposno=Gate", false, 0},
        {"presetpos12=Gate", false, 0},
        {"", false, 0},
        {" presetposno1=Lead", false, 0},
    };
    for (const NumberCase &c : cases) {
        gint32 number = 0;
        EXPECT_EQ(scan_entry_number(c.entry, &number), c.counts) << c.entry;
        if (c.counts) {
            EXPECT_EQ(number, c.number) << c.entry;
        }
    }
}

TEST(ListingEntry, NumbersOutsideInt32NeverCount)
{
    // Read as a truncated int, 4294967300 would pass for preset 4.
    const char *entries[] = {"presetposno4294967300=Wrap:pan=1:tilt=2",
                             "presetposno2147483648=Over:pan=1:tilt=2",
                             "presetposno-2147483649=Under:pan=1:tilt=2",
                             "presetposno99999999999999999999999=Huge:pan=1:tilt=2"};
    for (const char *entry : entries) {
        gint32 number = 0;
        ListingEntry full;
        EXPECT_FALSE(scan_entry_number(entry, &number)) << entry;
        EXPECT_FALSE(scan_entry_full(entry, &full)) << entry;
    }
}

TEST(ListingEntry, LookupReadsNamePanAndTilt)
{
    ListingEntry entry;
    ASSERT_TRUE(scan_entry_full("presetposno12=Gate:pan=10.5:tilt=-3.25", &entry));
    EXPECT_EQ(entry.number, 12);
    EXPECT_STREQ(entry.name, "Gate");
    EXPECT_FLOAT_EQ(entry.pan, 10.5f);
    EXPECT_FLOAT_EQ(entry.tilt, -3.25f);

    ASSERT_TRUE(scan_entry_full("presetposno4=Door Left:pan=0:tilt=7:home=1:zoom=3", &entry));
    EXPECT_STREQ(entry.name, "Door Left");
    EXPECT_FLOAT_EQ(entry.tilt, 7.0f);
}

TEST(ListingEntry, LookupSkipsEntriesItCannotRead)
{
    const char *entries[] = {
        "presetposno12",                   // number alone
        "presetposno12=",                  // nothing after the "="
        "presetposno3=:pan=1:tilt=2",      // empty name
        "presetposno3=Ga:te:pan=1:tilt=2", // colon in the name
        "presetposno3=Gate:pan=1",         // no tilt
        "presetposno3=Gate:tilt=1:pan=2",  // pieces out of order
        "presetposno3=Gate:pan=x:tilt=2",  // pan not a number
        "presetposno3Gate:pan=1:tilt=2",   // no "="
        "PresetPosNo3=Gate:pan=1:tilt=2",  // wrong case
    };
    for (const char *text : entries) {
        ListingEntry entry;
        EXPECT_FALSE(scan_entry_full(text, &entry)) << text;
    }
}

TEST(ListingEntry, NameOf95CharactersIsReadWholeAnd96IsNot)
{
    std::string name95(95, 'n');
    ListingEntry entry;
    ASSERT_TRUE(scan_entry_full(("presetposno5=" + name95 + ":pan=1:tilt=2").c_str(), &entry));
    EXPECT_EQ(std::string(entry.name), name95);
    std::string name96(96, 'n');
    EXPECT_FALSE(scan_entry_full(("presetposno5=" + name96 + ":pan=1:tilt=2").c_str(), &entry));
}

TEST(ListingEntry, NotANumberPositionIsPassedOn)
{
    ListingEntry entry;
    ASSERT_TRUE(scan_entry_full("presetposno6=Odd:pan=nan:tilt=1", &entry));
    EXPECT_TRUE(std::isnan(entry.pan));
}

} // namespace

namespace
{

GVariant *listing_of(std::initializer_list<const char *> entries)
{
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("as"));
    for (const char *entry : entries)
        g_variant_builder_add(&builder, "s", entry);
    return g_variant_ref_sink(g_variant_new("(as)", &builder));
}

TEST(Listing, WholeNumberIsCompared)
{
    g_autoptr(GVariant) listing =
        listing_of({"presetposno14=A:pan=1:tilt=1", "presetposno40=B:pan=1:tilt=1"});
    ListingEntry entry;
    EXPECT_FALSE(listing_holds_number(listing, 4));
    EXPECT_FALSE(listing_find_entry(listing, 4, &entry));
    EXPECT_TRUE(listing_holds_number(listing, 40));
    ASSERT_TRUE(listing_find_entry(listing, 40, &entry));
    EXPECT_STREQ(entry.name, "B");
}

TEST(Listing, LookupFindsTheFirstReadableEntryBehindAnUnreadableOne)
{
    g_autoptr(GVariant) listing =
        listing_of({"presetposno7=First", "presetposno7=Second:pan=3:tilt=4",
                    "presetposno7=Third:pan=5:tilt=6"});
    ListingEntry entry;
    ASSERT_TRUE(listing_find_entry(listing, 7, &entry));
    EXPECT_STREQ(entry.name, "Second");
    EXPECT_FLOAT_EQ(entry.pan, 3.0f);
    EXPECT_FLOAT_EQ(entry.tilt, 4.0f);
    EXPECT_TRUE(listing_holds_number(listing, 7));
}

TEST(Listing, ExistenceNeedsOnlyTheNumberLookupNeedsTheWholeEntry)
{
    g_autoptr(GVariant) listing = listing_of({"presetposno12", "presetposno3=:pan=1:tilt=2"});
    ListingEntry entry;
    EXPECT_TRUE(listing_holds_number(listing, 12));
    EXPECT_FALSE(listing_find_entry(listing, 12, &entry));
    EXPECT_TRUE(listing_holds_number(listing, 3));
    EXPECT_FALSE(listing_find_entry(listing, 3, &entry));
}

TEST(Listing, EmptyListingHoldsNothing)
{
    g_autoptr(GVariant) listing = listing_of({});
    ListingEntry entry;
    EXPECT_FALSE(listing_holds_number(listing, 1));
    EXPECT_FALSE(listing_find_entry(listing, 1, &entry));
}

TEST(Listing, NumbersRunToLastOnlyWithoutGapsRepeatsOrStrays)
{
    struct Row {
        const char *label;
        std::initializer_list<const char *> entries;
        gint32 last;
        bool runs;
    };
    const Row rows[] = {
        {"empty listing, nothing below 1", {}, 0, true},
        {"one to three in any order",
         {"presetposno2=B", "presetposno1=A", "presetposno3=C"},
         3,
         true},
        {"a gap below", {"presetposno2=B", "presetposno3=C"}, 3, false},
        {"a number above", {"presetposno1=A", "presetposno2=B", "presetposno7=G"}, 2, false},
        {"a repeated number", {"presetposno1=A", "presetposno1=B"}, 2, false},
        {"unreadable entries do not count", {"presetposno1=A", "PresetPosNo2=B"}, 2, false},
        {"nothing runs to a negative number", {}, -1, false},
    };
    for (const Row &row : rows) {
        g_autoptr(GVariant) listing = listing_of(row.entries);
        EXPECT_EQ(listing_numbers_run_to(listing, row.last), row.runs) << row.label;
    }
}

} // namespace
