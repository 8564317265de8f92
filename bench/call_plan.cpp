#include "call_plan.h"

#include <cstring>

static const char *const KIND_NAMES[MIRROR_KIND_COUNT] = {
    "recall", "create-by-name", "create-by-number", "update-moved", "remove",
};

// The preset created by number, and removed, in the benchmark.
static const gint32 DOCK_NUMBER = 40;
static const char DOCK_NAME[] = "Dock";
static const gint32 UPDATED_NUMBER = LISTED_PRESETS / 2;
static const double MOVE = 5.0;

const char *kind_name(MirrorKind kind)
{
    return KIND_NAMES[static_cast<int>(kind)];
}

bool kind_from_name(const char *name, MirrorKind *kind)
{
    for (int i = 0; i < MIRROR_KIND_COUNT; i++) {
        if (strcmp(name, KIND_NAMES[i]) == 0) {
            *kind = static_cast<MirrorKind>(i);
            return true;
        }
    }
    return false;
}

static void add_per_other_channel(std::vector<PlannedCall> &calls, gint32 channels, gint32 source,
                                  std::initializer_list<Method> methods)
{
    for (gint32 channel = 1; channel <= channels; channel++) {
        if (channel == source)
            continue;
        for (Method method : methods)
            calls.push_back({method, channel});
    }
}

std::vector<PlannedCall> required_calls(MirrorKind kind, gint32 channels, gint32 source)
{
    std::vector<PlannedCall> calls;
    switch (kind) {
    case MirrorKind::RECALL:
        add_per_other_channel(calls, channels, source,
                              {Method::GET_PTZ_PRESET_STATE, Method::GOTO_PRESET_NUMBER});
        break;
    case MirrorKind::CREATE_BY_NAME:
        calls.push_back({Method::GET_PRESETS, source});
        add_per_other_channel(calls, channels, source,
                              {Method::QUERY_PRESETS, Method::SET_PRESET_NAME});
        break;
    case MirrorKind::CREATE_BY_NUMBER:
        calls.push_back({Method::GET_PRESETS, source});
        add_per_other_channel(
            calls, channels, source,
            {Method::QUERY_PRESETS, Method::SET_PRESET_NUMBER, Method::RENAME_PRESET});
        break;
    case MirrorKind::UPDATE_MOVED:
        calls.push_back({Method::QUERY_PRESETS, source});
        add_per_other_channel(calls, channels, source,
                              {Method::QUERY_PRESETS, Method::UPDATE_PRESET});
        break;
    case MirrorKind::REMOVE:
        add_per_other_channel(calls, channels, source,
                              {Method::QUERY_PRESETS, Method::REMOVE_PRESET_NAME});
        break;
    }
    return calls;
}

MethodCounts service_echo_calls(MirrorKind kind, gint32 channels)
{
    (void)kind, (void)channels;
    return MethodCounts{};
}

guint total_of(const MethodCounts &counts)
{
    guint total = 0;
    for (guint count : counts)
        total += count;
    return total;
}

static CameraSignal change_signal(gint32 source, guint32 change, gint32 number, const char *name)
{
    return {SignalKind::CONFIGURATION_CHANGED, source, change, number, name, false};
}

CameraSignal prepare_repetition(CameraModel &camera, MirrorKind kind, gint32 source, guint rep)
{
    gint32 channels = static_cast<gint32>(camera.channels.size());
    camera = make_camera(channels, LISTED_PRESETS);
    ChannelModel &origin = *channel_of(camera, source);
    switch (kind) {
    case MirrorKind::RECALL: {
        // Every other channel reports preset 1, so each one is sent to the recalled preset.
        gint32 preset = 2 + static_cast<gint32>(rep % 2);
        CameraSignal ignored;
        apply_goto_preset(origin, source, preset, &ignored);
        return {SignalKind::PRESET_STATE, source, 1, preset, "", false};
    }
    case MirrorKind::CREATE_BY_NAME: {
        // The next free number equals the new count, so the creation goes by name.
        gint32 number = LISTED_PRESETS + 1;
        store_preset(origin, {number, "Created", origin.head->pan, origin.head->tilt});
        return change_signal(source, CHANGE_CREATED, number, "Created");
    }
    case MirrorKind::CREATE_BY_NUMBER:
        store_preset(origin, {DOCK_NUMBER, DOCK_NAME, origin.head->pan, origin.head->tilt});
        return change_signal(source, CHANGE_CREATED, DOCK_NUMBER, DOCK_NAME);
    case MirrorKind::UPDATE_MOVED: {
        // The head points at the new position, so every UpdatePreset stores it.
        Preset &moved = *find_preset(origin, UPDATED_NUMBER);
        moved.pan += MOVE;
        *origin.head = {moved.pan, moved.tilt};
        return change_signal(source, CHANGE_UPDATED, UPDATED_NUMBER, moved.name.c_str());
    }
    case MirrorKind::REMOVE:
        for (ChannelModel &channel : camera.channels)
            store_preset(channel, {DOCK_NUMBER, DOCK_NAME, channel.head->pan, channel.head->tilt});
        forget_preset(origin, DOCK_NUMBER);
        return change_signal(source, CHANGE_REMOVED, DOCK_NUMBER, DOCK_NAME);
    }
    return {};
}

static const guint BURST_BUFFER_SIZE = 32;
static const gint32 BURST_FIRST_NUMBER = 100000;

static void burst_recall(BurstPattern &p, Burst &burst)
{
    gint32 source = 1 + static_cast<gint32>(p.index % 2);
    gint32 preset = 2 + static_cast<gint32>(p.index % static_cast<guint>(BURST_PRESETS - 1));
    burst.signals.push_back({SignalKind::PRESET_STATE, source, 1, preset, "", false});
    if (p.recall_records >= BURST_BUFFER_SIZE) {
        p.recall_records = 0;
        return;
    }
    // Neither an echo nor a repeat: no record of this preset is left, and the newest is of
    // another. No channel is at the preset: each was last sent to one of the last few.
    add_per_other_channel(burst.calls, p.channels, source,
                          {Method::GET_PTZ_PRESET_STATE, Method::GOTO_PRESET_NUMBER});
    p.recall_records++;
}

static void burst_change(BurstPattern &p, Burst &burst)
{
    guint pair = p.index / 2;
    gint32 source = 1 + static_cast<gint32>(pair % 2);
    gint32 number = BURST_FIRST_NUMBER + static_cast<gint32>(pair);
    g_autofree char *name = g_strdup_printf("Burst %d", number);
    if (p.index % 2 == 0) {
        burst.signals.push_back(change_signal(source, CHANGE_CREATED, number, name));
        p.created_mirrored = p.created_records < BURST_BUFFER_SIZE;
        if (!p.created_mirrored) {
            p.created_records = 0;
            return;
        }
        burst.calls.push_back({Method::GET_PRESETS, source});
        add_per_other_channel(
            burst.calls, p.channels, source,
            {Method::QUERY_PRESETS, Method::SET_PRESET_NUMBER, Method::RENAME_PRESET});
        p.created_records++;
        return;
    }
    burst.signals.push_back(change_signal(source, CHANGE_REMOVED, number, name));
    if (p.removed_records >= BURST_BUFFER_SIZE) {
        p.removed_records = 0;
        return;
    }
    // Asked everywhere; removed where the creation put it, which leaves a record.
    add_per_other_channel(
        burst.calls, p.channels, source,
        p.created_mirrored
            ? std::initializer_list<Method>{Method::QUERY_PRESETS, Method::REMOVE_PRESET_NAME}
            : std::initializer_list<Method>{Method::QUERY_PRESETS});
    if (p.created_mirrored)
        p.removed_records++;
}

Burst next_burst(BurstPattern &pattern, guint signals)
{
    Burst burst;
    bool last_seen = false;
    while (burst.signals.size() < signals || !last_seen) {
        gsize calls = burst.calls.size();
        if (pattern.recalls)
            burst_recall(pattern, burst);
        else
            burst_change(pattern, burst);
        pattern.index++;
        last_seen = burst.calls.size() > calls;
    }
    return burst;
}
