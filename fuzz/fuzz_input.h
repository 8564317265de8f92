#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include <glib.h>

// A fuzz input is a GVariant type string, a NUL, then serialized data of that type as it
// could arrive from any peer on the bus. Null when the type string is not valid.
inline GVariant *variant_from_fuzz_input(const uint8_t *data, size_t size)
{
    const void *nul = memchr(data, '\0', size);
    if (!nul)
        return nullptr;
    const char *type = reinterpret_cast<const char *>(data);
    // Only definite types can arrive in a message.
    if (!g_variant_type_string_is_valid(type) ||
        !g_variant_type_is_definite(reinterpret_cast<const GVariantType *>(type)))
        return nullptr;
    size_t type_size = static_cast<const uint8_t *>(nul) - data + 1;
    // A copy, so that the data gets the alignment GVariant expects.
    g_autoptr(GBytes) bytes = g_bytes_new(data + type_size, size - type_size);
    return g_variant_ref_sink(g_variant_new_from_bytes(G_VARIANT_TYPE(type), bytes, FALSE));
}
