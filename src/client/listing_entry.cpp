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
