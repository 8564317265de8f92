#include <cstring>

#include "client/preset_calls.h"
#include "client/preset_listing.h"
#include "config_mirror/mirror_operations.h"
#include "config_mirror/update_decision.h"
#include "core/service_state.h"

namespace
{

// One update on its way through the other channels.
struct UpdateWalk {
    gint32 preset_id;
    const char *name;
    int set_home;
    float source_pan;
    float source_tilt;
    char **applied_name;
    int result;
};

void fill_applied_name_if_empty(UpdateWalk &walk)
{
    if (!*walk.applied_name)
        *walk.applied_name = g_strdup(walk.name);
}

void update_preset(UpdateWalk &walk, GDBusProxy *proxy, guint channel)
{
    walk.result = call_without_result(
        proxy, "UpdatePreset", g_variant_new("(siis)", PRESET_ROLE, 0, walk.preset_id, walk.name));
    if (!walk.result)
        g_log(nullptr, G_LOG_LEVEL_WARNING,
              "%sFailed to update preset (id %d, name %s) on channel %u", LOG_PREFIX,
              walk.preset_id, walk.name, channel);
}

void rename_preset(UpdateWalk &walk, GDBusProxy *proxy, guint channel)
{
    walk.result = call_rename_preset(proxy, walk.preset_id, walk.name);
    if (!walk.result)
        g_log(nullptr, G_LOG_LEVEL_WARNING,
              "%sFailed to rename preset (id %d, name %s) on channel %u", LOG_PREFIX,
              walk.preset_id, walk.name, channel);
}

void set_home_by_name(UpdateWalk &walk, GDBusProxy *proxy, guint channel)
{
    walk.result = call_set_preset_name(proxy, walk.name, 1);
    if (walk.result)
        replace_applied_name(walk.applied_name, walk.name);
    else
        g_log(nullptr, G_LOG_LEVEL_WARNING,
              "%sFailed to set preset (id %d, name %s, set as Home: %s) on channel %u", LOG_PREFIX,
              walk.preset_id, walk.name, "true", channel);
}

// Saves the preset again by number as home; false ends the walk.
bool set_home_by_number(UpdateWalk &walk, GDBusProxy *proxy, guint channel, bool moved)
{
    walk.result = call_set_preset_number(proxy, walk.preset_id, 1);
    if (!walk.result) {
        g_log(nullptr, G_LOG_LEVEL_WARNING,
              "%sFailed to create preset (id %d set as Home: %s) on channel %u", LOG_PREFIX,
              walk.preset_id, "true", channel);
        return false;
    }
    g_autofree char *default_name = g_strdup_printf("Pos%d", walk.preset_id);
    bool is_default = strcmp(walk.name, default_name) == 0;
    replace_applied_name(walk.applied_name, is_default ? walk.name : default_name);
    if (moved)
        update_preset(walk, proxy, channel);
    else if (!is_default)
        rename_preset(walk, proxy, channel);
    return true;
}

// Brings one other channel in step; false when the walk must stop.
bool update_channel(UpdateWalk &walk, gint32 index)
{
    GDBusProxy *proxy = service_state.coordinator_proxies[index];
    guint channel = static_cast<guint>(index + 1);
    g_autofree char *name = nullptr;
    float pan = 0.0f;
    float tilt = 0.0f;
    bool found = lookup_preset_entry(walk.preset_id, index, &name, &pan, &tilt);
    bool same_name = found && strcmp(walk.name, name) == 0;
    bool moved = found && position_moved(walk.source_pan, walk.source_tilt, pan, tilt);
    bool echoes = false;
    switch (decide_update_case(found, same_name, walk.set_home)) {
    case UpdateCase::MISSING:
        break;
    case UpdateCase::MISSING_HOME:
    case UpdateCase::SAME_NAME_HOME:
        set_home_by_name(walk, proxy, channel);
        echoes = walk.result;
        break;
    case UpdateCase::SAME_NAME:
        if (moved) {
            update_preset(walk, proxy, channel);
            echoes = walk.result;
        }
        fill_applied_name_if_empty(walk);
        break;
    case UpdateCase::OTHER_NAME:
        if (moved)
            update_preset(walk, proxy, channel);
        else
            rename_preset(walk, proxy, channel);
        echoes = walk.result;
        fill_applied_name_if_empty(walk);
        break;
    case UpdateCase::OTHER_NAME_HOME:
        if (!set_home_by_number(walk, proxy, channel, moved))
            return false;
        // The echo that counts is that of the save under the default name.
        echoes = true;
        break;
    }
    if (echoes)
        count_applied_channel();
    return true;
}

} // namespace

int mirror_updated_preset(gint32 preset_id, const char *name, gint32 source_channel, int set_home,
                          char **applied_name)
{
    g_autofree char *source_name = nullptr;
    UpdateWalk walk{preset_id, name, set_home, 0.0f, 0.0f, applied_name, 0};
    // Nothing is done when the source's own listing does not show the preset.
    if (!lookup_preset_entry(preset_id, source_channel - 1, &source_name, &walk.source_pan,
                             &walk.source_tilt))
        return 0;
    for (gint32 i = 0; i < service_state.channel_count; i++) {
        if (i == source_channel - 1)
            continue;
        if (!update_channel(walk, i))
            break;
    }
    return walk.result;
}
