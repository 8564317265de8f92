#pragma once

#include <gio/gio.h>

// PtzPresetState of every channel: recalls are mirrored, echoes of our own are dropped.
void on_ptz_preset_state(GDBusConnection *connection, const gchar *sender_name,
                         const gchar *object_path, const gchar *interface_name,
                         const gchar *signal_name, GVariant *parameters, gpointer user_data);

// Sends every other channel that reports another preset to preset_number, and marks in owed (by
// channel index) each one it sent there; returns how many, and leaves in recall_echo_expected
// whether there were any.
guint32 mirror_recall(gint32 preset_number, gint32 source_channel, guint8 *owed);
