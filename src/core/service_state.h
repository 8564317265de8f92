#pragma once

#include <gio/gio.h>

#include "core/echo_fifo.h"
#include "core/limits.h"

// One configuration change applied to the other channels, and the echoes of it still owed.
struct ChangeRecord {
    gint32 preset_id;
    char name[RECORD_NAME_SIZE];
    gint32 channel;
    // Echoes that carry the change's own name.
    guint32 echoes_owed;
    // Echoes of saves by number: under the default name "Pos<N>", or under saved_name where
    // the platform keeps the name a preset already had.
    guint32 saves_owed;
    char saved_name[RECORD_NAME_SIZE];
};

// One mirrored recall, whose echo is expected.
struct RecallRecord {
    gint32 preset_number;
    gint32 channel_number;
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
};

extern ServiceState service_state;
