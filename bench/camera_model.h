#pragma once

#include <glib.h>

#include <memory>
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
};

// Where the camera's one pan/tilt head points; saving a preset on any channel stores this.
struct Head {
    double pan;
    double tilt;
};

// One video channel as the camera keeps it.
struct ChannelModel {
    std::vector<Preset> presets; // ascending by number, as the listing shows them
    gint32 reported_preset;      // what GetPtzPresetState answers
    gint32 home;                 // the channel's home preset, 0 for none
    std::shared_ptr<Head> head;  // the camera's head, shared by all its channels
};

// Channel n lives at index n - 1. A copy shares its head with the original.
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
    bool home = false;  // "SET_HOME": true only when the change made the preset home
};

// Presets 1..presets named "Preset<N>" at pan 10N, tilt -N on every channel, no home; each
// channel reports preset 1 and the head points at it.
CameraModel make_camera(gint32 channels, gint32 presets);

// Null outside 1..channel count.
ChannelModel *channel_of(CameraModel &camera, gint32 channel);
Preset *find_preset(ChannelModel &channel, gint32 number);

// QueryPresets' entries: "presetposno<N>=<name>:pan=<p>:tilt=<t>:home=<0|1>", without the pan
// and tilt fields when not asked for positions (simulated_camera/README.md).
std::vector<std::string> listing_of(const ChannelModel &channel, bool with_positions);

// Saves a preset in number order, replacing one of the same number.
void store_preset(ChannelModel &channel, Preset preset);
// Drops a preset; the channel has no home after its home preset is dropped.
bool forget_preset(ChannelModel &channel, gint32 number);

// What each modifying method does to `channel` (number `channel_number`); true when it
// succeeds, and then *echo is the signal the camera emits about it. False for a preset or name
// the channel lacks, and for arguments the camera rejects (an empty name, a number below 1).
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
