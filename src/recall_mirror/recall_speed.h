#pragma once

#include <gio/gio.h>

// PresetSpeed of every channel: the last announced speed holds for all channels.
void on_preset_speed(GDBusConnection *connection, const gchar *sender_name,
                     const gchar *object_path, const gchar *interface_name,
                     const gchar *signal_name, GVariant *parameters, gpointer user_data);
