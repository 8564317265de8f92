#pragma once

#include <glib.h>

#include <string>
#include <vector>

// Every method of the two platform services that the service calls.
enum class Method {
    GET_NUMBER_OF_CHANNELS,
    QUERY_PRESETS,
    SET_PRESET_NAME,
    SET_PRESET_NUMBER,
    RENAME_PRESET,
    UPDATE_PRESET,
    REMOVE_PRESET_NAME,
    GET_PRESETS,
    GET_PTZ_PRESET_STATE,
    GOTO_PRESET_NUMBER,
};
constexpr int METHOD_COUNT = 10;

const char *method_name(Method method);
bool method_from_name(const char *name, Method *method);

constexpr guint32 CHANGE_CREATED = 1;
constexpr guint32 CHANGE_UPDATED = 2;
constexpr guint32 CHANGE_REMOVED = 3;

struct Preset {
    gint32 number;
    std::string name;
    double pan;
    double tilt;
    bool home;
};

// One video channel as the camera keeps it.
struct ChannelModel {
    std::vector<Preset> presets; // ascending by number, as the listing shows them
    gint32 reported_preset;      // what GetPtzPresetState answers
    double pan;                  // where the head points; saving a preset stores this
    double tilt;
};

// Channel n lives at index n - 1.
struct CameraModel {
    std::vector<ChannelModel> channels;
};

// The signal a change makes the camera emit on the changed channel.
enum class SignalKind { NONE, CONFIGURATION_CHANGED, PRESET_STATE, PRESET_SPEED };

struct CameraSignal {
    SignalKind kind = SignalKind::NONE;
    gint32 channel = 0;
    guint32 change = 0; // CHANGE_* for CONFIGURATION_CHANGED, the state for PRESET_STATE
    gint32 number = 0;  // preset number, or the speed for PRESET_SPEED
    std::string name;   // preset name; the space as text for PRESET_SPEED
    bool home = false;
};

// Presets 1..presets named "Preset<N>" at pan 10N, tilt -N on every channel; each channel
// reports preset 1 and points at it.
CameraModel make_camera(gint32 channels, gint32 presets);

// Null outside 1..channel count.
ChannelModel *channel_of(CameraModel &camera, gint32 channel);
Preset *find_preset(ChannelModel &channel, gint32 number);

// QueryPresets' entries: "presetposno<N>=<name>", with ":pan=..:tilt=..:zoom=1.00" when asked
// for positions.
std::vector<std::string> listing_of(const ChannelModel &channel, bool with_positions);

// Saves a preset in number order, replacing one of the same number.
void store_preset(ChannelModel &channel, Preset preset);
bool forget_preset(ChannelModel &channel, gint32 number);

// What each modifying method does to `channel` (number `channel_number`); true when it
// succeeds, and then *echo is the signal the camera emits about it.
bool apply_set_preset_name(ChannelModel &channel, gint32 channel_number, const char *name,
                           bool home, CameraSignal *echo);
bool apply_set_preset_number(ChannelModel &channel, gint32 channel_number, gint32 number, bool home,
                             CameraSignal *echo);
bool apply_rename_preset(ChannelModel &channel, gint32 channel_number, gint32 number,
                         const char *name, CameraSignal *echo);
bool apply_update_preset(ChannelModel &channel, gint32 channel_number, gint32 number,
                         const char *name, CameraSignal *echo);
bool apply_remove_preset_name(ChannelModel &channel, gint32 channel_number, const char *name,
                              CameraSignal *echo);
bool apply_goto_preset(ChannelModel &channel, gint32 channel_number, gint32 number,
                       CameraSignal *echo);
