#include "client/preset_calls.h"
#include "client/preset_listing.h"
#include "config_mirror/mirror_operations.h"
#include "core/service_state.h"

static const char *home_text(int set_home)
{
    return set_home ? "true" : "false";
}

// Number of presets the source channel reports, 0 when it cannot be read.
static gsize source_preset_count(gint32 source_channel)
{
    g_autoptr(GVariant) reply = call_preset_method(
        service_state.channel_proxies[source_channel - 1], "GetPresets", nullptr, "(ua(us))");
    if (!reply) {
        g_log(nullptr, G_LOG_LEVEL_WARNING, "%sFailed to get number of existing presets",
              LOG_PREFIX);
        return 0;
    }
    g_autoptr(GVariant) presets = g_variant_get_child_value(reply, 1);
    return g_variant_n_children(presets);
}

// Creation by number leaves the preset named "Pos<N>"; a rename gives it the wanted name.
static int create_by_number(GDBusProxy *proxy, gint32 preset_id, const char *name, int set_home,
                            guint channel, char **applied_name)
{
    if (!call_set_preset_number(proxy, preset_id, set_home)) {
        g_log(nullptr, G_LOG_LEVEL_WARNING,
              "%sFailed to create preset (id %d set as Home: %s) on channel %u", LOG_PREFIX,
              preset_id, home_text(set_home), channel);
        return 0;
    }
    count_applied_channel();
    g_autofree char *default_name = g_strdup_printf("Pos%d", preset_id);
    if (g_strcmp0(name, default_name) == 0) {
        replace_applied_name(applied_name, name);
        return 1;
    }
    if (!call_rename_preset(proxy, preset_id, name)) {
        g_log(nullptr, G_LOG_LEVEL_WARNING,
              "%sFailed to rename preset (id %d, name %s) on channel %u", LOG_PREFIX, preset_id,
              name, channel);
        return 0;
    }
    // The rename is not recorded: the creation's echo carries the default name.
    replace_applied_name(applied_name, default_name);
    return 1;
}

int mirror_created_preset(gint32 preset_id, const char *name, gint32 source_channel, int set_home,
                          char **applied_name)
{
    gsize preset_count = source_preset_count(source_channel);
    int result = 0;
    for (gint32 i = 0; i < service_state.channel_count; i++) {
        if (i == source_channel - 1 || preset_exists_on_channel(preset_id, i))
            continue;
        GDBusProxy *proxy = service_state.coordinator_proxies[i];
        guint channel = static_cast<guint>(i + 1);
        if (preset_id >= 0 && static_cast<gsize>(preset_id) == preset_count) {
            result = call_set_preset_name(proxy, name, set_home);
            if (result) {
                count_applied_channel();
                replace_applied_name(applied_name, name);
            } else
                g_log(nullptr, G_LOG_LEVEL_WARNING,
                      "%sFailed to create preset (id %d, name %s set_home %s) on channel %u",
                      LOG_PREFIX, preset_id, name, home_text(set_home), channel);
        } else {
            result = create_by_number(proxy, preset_id, name, set_home, channel, applied_name);
        }
    }
    return result;
}
