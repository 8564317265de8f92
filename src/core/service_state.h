#pragma once

#include <gio/gio.h>

#include "core/echo_fifo.h"
#include "core/limits.h"

// One configuration change applied to the other channels; its row says which of them still owe
// which of its echoes (OWES_NAMED, OWES_SAVED, OWES_NAMED_HOME).
struct ChangeRecord {
    gint32 preset_id;
    char name[RECORD_NAME_SIZE];
    gint32 channel;
    guint32 owed_echoes;
    guint64 serial;
    // The change made the preset home: its saves echo flagged "SET_HOME".
    int home;
};

// One mirrored recall; its row says which channels still owe the echo of our goto.
struct RecallRecord {
    gint32 preset_number;
    gint32 channel_number;
    guint32 owed_echoes;
    guint64 serial;
};

using ChangeEchoBuffer = EchoBuffer<ChangeRecord>;
using RecallEchoBuffer = EchoBuffer<RecallRecord>;

// Everything the service keeps; per-channel tables are indexed by channel number - 1.
struct ServiceState {
    gint32 channel_count;
    gint32 *preset_speeds;
    GDBusProxy **coordinator_proxies;
    GDBusProxy **channel_proxies;
    GMainLoop *main_loop;
    guint *config_changed_subscriptions;
    GDBusConnection *connection;
    guint *preset_state_subscriptions;
    guint *preset_speed_subscriptions;
    guint32 recall_echo_count;
    RecallEchoBuffer *recall_echo_buffer;
    guint32 created_count;
    guint32 updated_count;
    guint32 removed_count;
    ChangeEchoBuffer *created_buffer;
    ChangeEchoBuffer *updated_buffer;
    ChangeEchoBuffer *removed_buffer;
    int recall_echo_expected;
    // Walks are numbered in the order they run; a record keeps the number of its walk.
    guint64 walk_serial;
};

extern ServiceState service_state;
