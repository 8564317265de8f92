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

// The calls the service makes afterwards for the echoes of its own changes: none. Each record
// owes the echoes its successful calls cause, channel by channel (a creation by number its saves
// and its renames, a recall one echo from each channel sent to the preset), so every echo is
// taken off a record. The floor makes the same calls, dropping as many echoes as it caused.
MethodCounts service_echo_calls(MirrorKind kind, gint32 channels);

guint total_of(const MethodCounts &counts);

// Resets the camera to the state before repetition `rep`, performs the user's action on
// `source` and returns the signal that the action makes the camera emit.
CameraSignal prepare_repetition(CameraModel &camera, MirrorKind kind, gint32 source, guint rep);

// A burst: signals queued with no round trip between them, and the calls the design requires
// for them, in order. The camera is driven with its echoes routed nowhere, so it changes only
// through the service's calls and what each signal finds is fixed by the pattern alone.
struct Burst {
    std::vector<CameraSignal> signals;
    std::vector<PlannedCall> calls;
};

// Presets every channel lists for bursts of recalls: more than a full echo buffer apart, so a
// recall never meets the record of an earlier one of the same preset.
constexpr gint32 BURST_PRESETS = 40;

// A run of bursts against one service: where each burst starts and what the service's echo
// buffers hold. Recalls go from channels 1 and 2 by turns, each of another preset; no echo ever
// comes, and a recall puts what its own channel owed in doubt (an echo in doubt may still come),
// so every record keeps owing and, at any channel count, the 33rd recall finds the buffer full:
// it is emptied and that recall dropped. Changes are creations (by number: the number is never
// a channel's preset count) each followed by the removal of the same preset, from channels 1 and
// 2 by turns; a change lapses nothing its channel owed for other presets, so the 33rd creation
// and its removal find their buffers full and are dropped.
struct BurstPattern {
    bool recalls = true;
    gint32 channels = 2;
    guint index = 0; // signals so far, across bursts
    guint recall_records = 0;
    guint created_records = 0;
    guint removed_records = 0;
    bool created_mirrored = false; // whether the creation of the pending removal was mirrored
};

// The next `signals` signals of the pattern, or a few more, so that the last one has calls
// whose arrival shows that the whole burst was handled.
Burst next_burst(BurstPattern &pattern, guint signals);
