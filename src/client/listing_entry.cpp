#include "client/listing_entry.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static const char ENTRY_PREFIX[] = "presetposno";

// Reads the number after the prefix as strtol does; out-of-range numbers never count.
static const char *read_number(const char *entry, gint32 *number)
{
    const size_t prefix_length = sizeof ENTRY_PREFIX - 1;
    if (strncmp(entry, ENTRY_PREFIX, prefix_length) != 0)
        return nullptr;
    const char *digits = entry + prefix_length;
    char *end = nullptr;
    errno = 0;
    long value = strtol(digits, &end, 10);
    if (end == digits || errno == ERANGE || value < INT32_MIN || value > INT32_MAX)
        return nullptr;
    *number = static_cast<gint32>(value);
    return end;
}

bool scan_entry_number(const char *entry, gint32 *number)
{
    return read_number(entry, number) != nullptr;
}

bool scan_entry_full(const char *entry, ListingEntry *out)
{
    gint32 number = 0;
    const char *rest = read_number(entry, &number);
    if (!rest)
        return false;
    ListingEntry scanned{};
    if (sscanf(rest, "=%95[^:]:pan=%f:tilt=%f", scanned.name, &scanned.pan, &scanned.tilt) != 3)
        return false;
    scanned.number = number;
    *out = scanned;
    return true;
}

bool listing_holds_number(GVariant *listing, gint32 preset_id)
{
    g_autoptr(GVariantIter) entries = nullptr;
    g_variant_get(listing, "(as)", &entries);
    const char *text = nullptr;
    while (g_variant_iter_next(entries, "&s", &text)) {
        gint32 number = 0;
        if (scan_entry_number(text, &number) && number == preset_id)
            return true;
    }
    return false;
}

bool listing_find_entry(GVariant *listing, gint32 preset_id, ListingEntry *out)
{
    g_autoptr(GVariantIter) entries = nullptr;
    g_variant_get(listing, "(as)", &entries);
    const char *text = nullptr;
    while (g_variant_iter_next(entries, "&s", &text)) {
        // Unreadable entries are skipped, so a later good entry of the same number is found.
        if (scan_entry_full(text, out) && out->number == preset_id)
            return true;
    }
    return false;
}

bool listing_numbers_run_to(GVariant *listing, gint32 last)
{
    g_autoptr(GVariantIter) entries = nullptr;
    g_variant_get(listing, "(as)", &entries);
    if (last < 0 || g_variant_iter_n_children(entries) < static_cast<gsize>(last))
        return false;
    g_autofree guint8 *seen = g_new0(guint8, static_cast<gsize>(last) + 1);
    gint32 distinct = 0;
    const char *text = nullptr;
    while (g_variant_iter_next(entries, "&s", &text)) {
        gint32 number = 0;
        if (!scan_entry_number(text, &number))
            continue;
        if (number < 1 || number > last || seen[number])
            return false;
        seen[number] = 1;
        distinct++;
    }
    return distinct == last;
}
