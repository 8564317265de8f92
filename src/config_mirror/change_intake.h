#pragma once

#include <gio/gio.h>

// The channel number after the last "/" of a channel object's path, or 0 when the path
// does not end in a channel number from 1 to channel_count.
gint32 read_source_channel(const char *object_path, gint32 channel_count);

// One decoded PresetConfigurationChanged2.
struct ConfigurationChange {
    guint32 preset_id;
    char *name; // owned
    guint32 kind;
    int set_home;
};

// False, with nothing allocated, when the payload is not "(usua{sb}a{sv})".
bool decode_configuration_change(GVariant *parameters, ConfigurationChange *out);

// PresetConfigurationChanged2 of every channel.
void on_preset_configuration_changed(GDBusConnection *connection, const gchar *sender_name,
                                     const gchar *object_path, const gchar *interface_name,
                                     const gchar *signal_name, GVariant *parameters,
                                     gpointer user_data);
