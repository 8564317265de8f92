#pragma once

#include <array>
#include <vector>

#include "camera_model.h"

// The user actions the benchmark mirrors, one per kind of mirror.
enum class MirrorKind { RECALL, CREATE_BY_NAME, CREATE_BY_NUMBER, UPDATE_MOVED, REMOVE };
constexpr int MIRROR_KIND_COUNT = 5;

const char *kind_name(MirrorKind kind);
bool kind_from_name(const char *name, MirrorKind *kind);

// Presets every channel lists before a repetition.
constexpr gint32 LISTED_PRESETS = 16;

struct PlannedCall {
    Method method;
    gint32 channel;
};

using MethodCounts = std::array<guint, METHOD_COUNT>;

// The calls the design requires for one action on `source`, in the order they are made.
std::vector<PlannedCall> required_calls(MirrorKind kind, gint32 channels, gint32 source);

// The calls the service makes afterwards for the echoes of its own changes. A configuration
// change leaves one record per kind its calls echo in, owing every one of those echoes (a
// creation by number owes its renames among the updates), so none of them costs a call. A
// recall leaves one record, which its first echo takes: with three or more channels the later
// echoes are handled as recalls of their own channels and find every channel at the preset.
MethodCounts service_echo_calls(MirrorKind kind, gint32 channels);

// The floor makes the same echo calls for recalls only, which the throughput test compares.
MethodCounts floor_echo_calls(MirrorKind kind, gint32 channels);

guint total_of(const MethodCounts &counts);

// Resets the camera to the state before repetition `rep`, performs the user's action on
// `source` and returns the signal that the action makes the camera emit.
CameraSignal prepare_repetition(CameraModel &camera, MirrorKind kind, gint32 source, guint rep);
