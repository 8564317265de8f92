// The listing scans and lookups over any QueryPresets reply a coordinator could send.
#include <initializer_list>

#include "client/listing_entry.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    g_autofree char *text = g_strndup(reinterpret_cast<const char *>(data), size);
    gint32 number = 0;
    ListingEntry entry;
    bool numbered = scan_entry_number(text, &number);
    if (numbered && strncmp(text, "presetposno", 11) != 0)
        __builtin_trap();
    // An entry the lookup reads always counts for the existence check, with the same number.
    if (scan_entry_full(text, &entry) && (!numbered || entry.number != number))
        __builtin_trap();

    g_autoptr(GVariant) listing = variant_from_fuzz_input(data, size);
    if (!listing || !g_variant_is_of_type(listing, G_VARIANT_TYPE("(as)")))
        return 0;
    for (gint32 preset : {1, 4, 12, -1}) {
        bool found = listing_find_entry(listing, preset, &entry);
        // Whatever the lookup finds, the existence check must find too.
        if (found && (!listing_holds_number(listing, preset) || entry.number != preset ||
                      strlen(entry.name) == 0 || strlen(entry.name) > 95))
            __builtin_trap();
    }
    return 0;
}
