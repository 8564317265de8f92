#include "config_mirror/change_intake.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "config_mirror/change_filter.h"
#include "core/lifecycle.h"
#include "core/service_state.h"
#include "core/trace.h"

static const char SET_HOME[] = "SET_HOME";

gint32 read_source_channel(const char *object_path, gint32 channel_count)
{
    const char *slash = object_path ? strrchr(object_path, '/') : nullptr;
    if (!slash)
        return 0;
    const char *digits = slash + 1;
    // Digits only: strtol alone would also take white space and a sign.
    if (*digits == '\0' || strspn(digits, "0123456789") != strlen(digits))
        return 0;
    errno = 0;
    long channel = strtol(digits, nullptr, 10);
    if (errno == ERANGE || channel < 1 || channel > channel_count)
        return 0;
    return static_cast<gint32>(channel);
}

// Any "SET_HOME" entry that is true makes the change a home change.
static int read_set_home(GVariant *flags)
{
    int set_home = 0;
    GVariantIter iter;
    const char *key = nullptr;
    gboolean value = FALSE;
    g_variant_iter_init(&iter, flags);
    while (g_variant_iter_loop(&iter, "{&sb}", &key, &value)) {
        if (strcmp(key, SET_HOME) == 0 && value)
            set_home = 1;
    }
    return set_home;
}

bool decode_configuration_change(GVariant *parameters, ConfigurationChange *out)
{
    // Any peer may send any payload; one of another type is ignored.
    if (!parameters || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(usua{sb}a{sv})")))
        return false;
    g_autoptr(GVariant) flags = nullptr;
    g_variant_get(parameters, "(usu@a{sb}@a{sv})", &out->preset_id, &out->name, &out->kind, &flags,
                  nullptr);
    out->set_home = read_set_home(flags);
    return true;
}

void on_preset_configuration_changed(GDBusConnection *connection, const gchar *sender_name,
                                     const gchar *object_path, const gchar *interface_name,
                                     const gchar *signal_name, GVariant *parameters,
                                     gpointer user_data)
{
    (void)connection, (void)sender_name, (void)interface_name, (void)signal_name, (void)user_data;
    if (!take_signal())
        return;
    gint32 source_channel = read_source_channel(object_path, service_state.channel_count);
    ConfigurationChange change{};
    if (!decode_configuration_change(parameters, &change)) {
        trace_line("change of type %s on channel %d: ignored, wrong type",
                   payload_type(parameters), source_channel);
        return;
    }
    g_autofree char *name = change.name;
    filter_and_dispatch_change(change.kind, static_cast<gint32>(change.preset_id), name,
                               source_channel, change.set_home);
}
