#pragma once

#include <glib.h>

#include "core/limits.h"

// What the lookup reads from one listing entry.
struct ListingEntry {
    gint32 number;
    char name[RECORD_NAME_SIZE];
    float pan;
    float tilt;
};

// True when the entry starts with "presetposno" and a number in the int32 range.
bool scan_entry_number(const char *entry, gint32 *number);

// True when the entry also holds "=", a name of 1 to 95 characters without a colon,
// ":pan=", a float, ":tilt=" and a float; anything after the tilt is ignored.
bool scan_entry_full(const char *entry, ListingEntry *out);

// Walk a QueryPresets reply ("(as)") in order; the first entry that counts for preset_id wins.
bool listing_holds_number(GVariant *listing, gint32 preset_id);
bool listing_find_entry(GVariant *listing, gint32 preset_id, ListingEntry *out);

// True when the entries that count hold exactly the numbers 1 to last, each once.
bool listing_numbers_run_to(GVariant *listing, gint32 last);
