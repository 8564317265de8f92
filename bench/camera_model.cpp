#include "camera_model.h"

#include <algorithm>
#include <cstring>

static const char *const METHOD_NAMES[METHOD_COUNT] = {
    "GetNumberOfChannels", "QueryPresets",     "SetPresetName",    "SetPresetNumber",
    "RenamePreset",        "UpdatePreset",     "RemovePresetName", "GetPresets",
    "GetPtzPresetState",   "GotoPresetNumber",
};

const char *method_name(Method method)
{
    return METHOD_NAMES[static_cast<int>(method)];
}

bool method_from_name(const char *name, Method *method)
{
    for (int i = 0; i < METHOD_COUNT; i++) {
        if (strcmp(name, METHOD_NAMES[i]) == 0) {
            *method = static_cast<Method>(i);
            return true;
        }
    }
    return false;
}

CameraModel make_camera(gint32 channels, gint32 presets)
{
    CameraModel camera;
    auto head = std::make_shared<Head>(Head{10.0, -1.0});
    for (gint32 n = 0; n < channels; n++) {
        ChannelModel channel{{}, 1, 0, head};
        for (gint32 p = 1; p <= presets; p++)
            channel.presets.push_back({p, "Preset" + std::to_string(p), 10.0 * p, -1.0 * p});
        camera.channels.push_back(channel);
    }
    return camera;
}

ChannelModel *channel_of(CameraModel &camera, gint32 channel)
{
    if (channel < 1 || static_cast<gsize>(channel) > camera.channels.size())
        return nullptr;
    return &camera.channels[static_cast<gsize>(channel - 1)];
}

Preset *find_preset(ChannelModel &channel, gint32 number)
{
    for (Preset &preset : channel.presets) {
        if (preset.number == number)
            return &preset;
    }
    return nullptr;
}

static Preset *find_by_name(ChannelModel &channel, const char *name)
{
    for (Preset &preset : channel.presets) {
        if (preset.name == name)
            return &preset;
    }
    return nullptr;
}

std::vector<std::string> listing_of(const ChannelModel &channel, bool with_positions)
{
    std::vector<std::string> entries;
    for (const Preset &preset : channel.presets) {
        int home = preset.number == channel.home;
        g_autofree char *entry =
            with_positions
                ? g_strdup_printf("presetposno%d=%s:pan=%.2f:tilt=%.2f:home=%d", preset.number,
                                  preset.name.c_str(), preset.pan, preset.tilt, home)
                : g_strdup_printf("presetposno%d=%s:home=%d", preset.number, preset.name.c_str(),
                                  home);
        entries.emplace_back(entry);
    }
    return entries;
}

void store_preset(ChannelModel &channel, Preset preset)
{
    Preset *existing = find_preset(channel, preset.number);
    if (existing) {
        *existing = preset;
        return;
    }
    auto later = std::find_if(channel.presets.begin(), channel.presets.end(),
                              [&](const Preset &p) { return p.number > preset.number; });
    channel.presets.insert(later, preset);
}

bool forget_preset(ChannelModel &channel, gint32 number)
{
    auto found = std::find_if(channel.presets.begin(), channel.presets.end(),
                              [&](const Preset &p) { return p.number == number; });
    if (found == channel.presets.end())
        return false;
    channel.presets.erase(found);
    if (channel.home == number)
        channel.home = 0;
    return true;
}

// set_home: the change made the preset the channel's home.
static void set_echo(CameraSignal *echo, gint32 channel, guint32 change, const Preset &preset,
                     bool set_home)
{
    *echo = {SignalKind::CONFIGURATION_CHANGED,
             channel,
             change,
             preset.number,
             preset.name,
             set_home};
}

// Stores the head position under the preset's number; a true home flag makes it the home, a
// false one leaves the home as it is.
static void save_at_head(ChannelModel &channel, gint32 channel_number, gint32 number,
                         const std::string &name, bool home, CameraSignal *echo)
{
    bool existed = find_preset(channel, number) != nullptr;
    Preset preset{number, name, channel.head->pan, channel.head->tilt};
    store_preset(channel, preset);
    if (home)
        channel.home = number;
    set_echo(echo, channel_number, existed ? CHANGE_UPDATED : CHANGE_CREATED, preset, home);
}

// A name that exists is saved again in place; a new one takes the lowest free number.
bool apply_set_preset_name(ChannelModel &channel, gint32 channel_number, const char *name,
                           bool home, CameraSignal *echo)
{
    if (!*name)
        return false;
    Preset *existing = find_by_name(channel, name);
    gint32 number = existing ? existing->number : 1;
    if (!existing) {
        while (find_preset(channel, number))
            number++;
    }
    save_at_head(channel, channel_number, number, name, home, echo);
    return true;
}

// Saving by number names the preset "Pos<N>", also when it existed under another name.
bool apply_set_preset_number(ChannelModel &channel, gint32 channel_number, gint32 number, bool home,
                             CameraSignal *echo)
{
    if (number <= 0)
        return false;
    save_at_head(channel, channel_number, number, "Pos" + std::to_string(number), home, echo);
    return true;
}

bool apply_rename_preset(ChannelModel &channel, gint32 channel_number, gint32 number,
                         const char *name, CameraSignal *echo)
{
    Preset *preset = find_preset(channel, number);
    if (!preset || !*name)
        return false;
    preset->name = name;
    set_echo(echo, channel_number, CHANGE_UPDATED, *preset, false);
    return true;
}

bool apply_update_preset(ChannelModel &channel, gint32 channel_number, gint32 number,
                         const char *name, CameraSignal *echo)
{
    Preset *preset = find_preset(channel, number);
    if (!preset || !*name)
        return false;
    preset->name = name;
    preset->pan = channel.head->pan;
    preset->tilt = channel.head->tilt;
    set_echo(echo, channel_number, CHANGE_UPDATED, *preset, false);
    return true;
}

bool apply_remove_preset_name(ChannelModel &channel, gint32 channel_number, const char *name,
                              CameraSignal *echo)
{
    Preset *preset = find_by_name(channel, name);
    if (!preset)
        return false;
    set_echo(echo, channel_number, CHANGE_REMOVED, *preset, false);
    forget_preset(channel, preset->number);
    return true;
}

bool apply_goto_preset(ChannelModel &channel, gint32 channel_number, gint32 number,
                       CameraSignal *echo)
{
    Preset *preset = find_preset(channel, number);
    if (!preset)
        return false;
    channel.reported_preset = number;
    *channel.head = {preset->pan, preset->tilt};
    *echo = {SignalKind::PRESET_STATE, channel_number, 1, number, "", false};
    return true;
}
