#pragma once

#include <gio/gio.h>

// Calls a method synchronously with the proxy's default timeout. Returns the reply, or null
// when the call failed or, with reply_type given, when the reply is of another type; the
// error's own text is dropped, callers log their own message.
GVariant *call_preset_method(GDBusProxy *proxy, const char *method, GVariant *parameters,
                             const char *reply_type);

// Runs a method whose reply nothing reads; true when a reply came back.
bool call_without_result(GDBusProxy *proxy, const char *method, GVariant *parameters);

// The role and reserved argument that open every preset method's parameters.
#define PRESET_ROLE "Operator"

bool call_set_preset_name(GDBusProxy *proxy, const char *name, int set_home);
bool call_set_preset_number(GDBusProxy *proxy, gint32 preset_number, int set_home);
bool call_rename_preset(GDBusProxy *proxy, gint32 preset_number, const char *name);
