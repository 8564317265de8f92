#pragma once

#include <gio/gio.h>

// The channel number after the last "/" of a channel object's path, or 0 when the path
// does not end in a channel number from 1 to channel_count.
gint32 read_source_channel(const char *object_path, gint32 channel_count);

// PresetConfigurationChanged2 of every channel.
void on_preset_configuration_changed(GDBusConnection *connection, const gchar *sender_name,
                                     const gchar *object_path, const gchar *interface_name,
                                     const gchar *signal_name, GVariant *parameters,
                                     gpointer user_data);
