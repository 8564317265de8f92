#include "client/preset_calls.h"

GVariant *call_preset_method(GDBusProxy *proxy, const char *method, GVariant *parameters,
                             const char *reply_type)
{
    GError *error = nullptr;
    GVariant *reply = g_dbus_proxy_call_sync(proxy, method, parameters, G_DBUS_CALL_FLAGS_NONE, -1,
                                             nullptr, &error);
    if (!reply) {
        g_clear_error(&error);
        return nullptr;
    }
    // A reply of another type than the method's counts as a failed call.
    if (reply_type && !g_variant_is_of_type(reply, G_VARIANT_TYPE(reply_type))) {
        g_variant_unref(reply);
        return nullptr;
    }
    return reply;
}

bool call_without_result(GDBusProxy *proxy, const char *method, GVariant *parameters)
{
    GVariant *reply = call_preset_method(proxy, method, parameters, nullptr);
    if (!reply)
        return false;
    g_variant_unref(reply);
    return true;
}

bool call_set_preset_name(GDBusProxy *proxy, const char *name, int set_home)
{
    return call_without_result(
        proxy, "SetPresetName",
        g_variant_new("(sisb)", PRESET_ROLE, 0, name, static_cast<gboolean>(set_home != 0)));
}

bool call_set_preset_number(GDBusProxy *proxy, gint32 preset_number, int set_home)
{
    return call_without_result(proxy, "SetPresetNumber",
                               g_variant_new("(siib)", PRESET_ROLE, 0, preset_number,
                                             static_cast<gboolean>(set_home != 0)));
}

bool call_rename_preset(GDBusProxy *proxy, gint32 preset_number, const char *name)
{
    return call_without_result(proxy, "RenamePreset",
                               g_variant_new("(siis)", PRESET_ROLE, 0, preset_number, name));
}
