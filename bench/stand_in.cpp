#include "stand_in.h"

#include <chrono>

#include "core/bus_names.h"

// The errors of simulated_camera/README.md: a preset or name the channel lacks fails as an
// injected failure does.
static const char FAILED_ERROR[] = "com.orvo.PTZ.Error.Failed";
static const char INVALID_ERROR[] = "org.freedesktop.DBus.Error.InvalidArgs";
static const char UNKNOWN_METHOD_ERROR[] = "org.freedesktop.DBus.Error.UnknownMethod";

// GDBus checks every call's arguments and every reply against these signatures.
static const char INTROSPECTION_XML[] =
    "<node>"
    " <interface name='com.orvo.PTZ.Coordinator'>"
    "  <method name='GetNumberOfChannels'><arg direction='out' type='i'/></method>"
    "  <method name='QueryPresets'><arg type='s'/><arg type='i'/><arg type='b'/>"
    "   <arg direction='out' type='as'/></method>"
    "  <method name='SetPresetName'><arg type='s'/><arg type='i'/><arg type='s'/>"
    "   <arg type='b'/></method>"
    "  <method name='SetPresetNumber'><arg type='s'/><arg type='i'/><arg type='i'/>"
    "   <arg type='b'/></method>"
    "  <method name='RenamePreset'><arg type='s'/><arg type='i'/><arg type='i'/>"
    "   <arg type='s'/></method>"
    "  <method name='UpdatePreset'><arg type='s'/><arg type='i'/><arg type='i'/>"
    "   <arg type='s'/></method>"
    "  <method name='RemovePresetName'><arg type='s'/><arg type='i'/><arg type='s'/></method>"
    "  <method name='GetPtzPresetState'><arg direction='out' type='i'/>"
    "   <arg direction='out' type='i'/></method>"
    "  <method name='GotoPresetNumber'><arg type='s'/><arg type='i'/><arg type='i'/>"
    "   <arg type='i'/></method>"
    "  <signal name='PtzPresetState'><arg type='i'/><arg type='i'/><arg type='i'/></signal>"
    "  <signal name='PresetSpeed'><arg type='i'/><arg type='i'/><arg type='i'/></signal>"
    " </interface>"
    " <interface name='com.orvo.Ptz1.Channel'>"
    "  <method name='GetPresets'><arg direction='out' type='u'/>"
    "   <arg direction='out' type='a(us)'/></method>"
    " </interface>"
    "</node>";

struct StandInRegistration {
    StandIn *stand_in;
    gint32 channel;
};

gint64 monotonic_ns()
{
    // The steady clock is CLOCK_MONOTONIC, so times from other processes compare.
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
}

static bool take_failure(StandIn *s, gint32 channel, Method method)
{
    for (gint32 index : {channel, 0}) {
        if (index < 0 || static_cast<gsize>(index) >= s->failures.size())
            continue;
        guint &left = s->failures[static_cast<gsize>(index)][static_cast<gsize>(method)];
        if (left > 0) {
            left--;
            return true;
        }
    }
    return false;
}

void stand_in_fail_calls(StandIn *stand_in, gint32 channel, Method method, guint count)
{
    if (channel >= 0 && static_cast<gsize>(channel) < stand_in->failures.size())
        stand_in->failures[static_cast<gsize>(channel)][static_cast<gsize>(method)] = count;
}

bool stand_in_emit(StandIn *stand_in, const char *destination, const CameraSignal &signal)
{
    g_autofree char *path = nullptr;
    const char *interface = COORDINATOR_INTERFACE;
    const char *member = nullptr;
    GVariant *parameters = nullptr;
    switch (signal.kind) {
    case SignalKind::NONE:
        return true;
    case SignalKind::CONFIGURATION_CHANGED: {
        path = channel_object_path(CHANNEL_PATH_PREFIX, signal.channel);
        interface = CHANNEL_SIGNAL_INTERFACE;
        member = "PresetConfigurationChanged2";
        GVariantBuilder flags;
        g_variant_builder_init(&flags, G_VARIANT_TYPE("a{sb}"));
        g_variant_builder_add(&flags, "{sb}", "SET_HOME", static_cast<gboolean>(signal.home));
        parameters = g_variant_new("(usua{sb}a{sv})", static_cast<guint32>(signal.number),
                                   signal.name.c_str(), signal.change, &flags, nullptr);
        break;
    }
    case SignalKind::PRESET_STATE:
        path = channel_object_path(COORDINATOR_PATH, signal.channel);
        member = "PtzPresetState";
        parameters = g_variant_new("(iii)", signal.channel, signal.number,
                                   static_cast<gint32>(signal.change));
        break;
    case SignalKind::PRESET_SPEED:
        path = channel_object_path(COORDINATOR_PATH, signal.channel);
        member = "PresetSpeed";
        parameters = g_variant_new("(iii)", signal.channel, signal.number,
                                   static_cast<gint32>(signal.change));
        break;
    }
    return g_dbus_connection_emit_signal(stand_in->connection, destination, path, interface, member,
                                         parameters, nullptr);
}

// Checks the role and reserved argument that open every preset method's parameters.
static bool role_is_valid(GVariant *parameters)
{
    const char *role = nullptr;
    gint32 reserved = -1;
    g_variant_get_child(parameters, 0, "&s", &role);
    g_variant_get_child(parameters, 1, "i", &reserved);
    return g_strcmp0(role, "Operator") == 0 && reserved == 0;
}

static GVariant *listing_reply(const ChannelModel &channel, gboolean with_positions)
{
    GVariantBuilder entries;
    g_variant_builder_init(&entries, G_VARIANT_TYPE("as"));
    for (const std::string &entry : listing_of(channel, with_positions))
        g_variant_builder_add(&entries, "s", entry.c_str());
    return g_variant_new("(as)", &entries);
}

static GVariant *presets_reply(const ChannelModel &channel)
{
    GVariantBuilder presets;
    g_variant_builder_init(&presets, G_VARIANT_TYPE("a(us)"));
    for (const Preset &preset : channel.presets)
        g_variant_builder_add(&presets, "(us)", static_cast<guint32>(preset.number),
                              preset.name.c_str());
    return g_variant_new("(ua(us))", static_cast<guint32>(channel.home), &presets);
}

// One call taken apart, answered against the model; *echo is what the camera then signals.
struct Answer {
    GVariant *reply = nullptr; // floating; null with an error name
    const char *error = nullptr;
    gint32 number = 0;
    const char *name = "";
    CameraSignal echo;
};

static void answer_change(Answer &a, bool done)
{
    if (done)
        a.reply = g_variant_new("()");
    else
        a.error = FAILED_ERROR;
}

// Reads a call's preset number, name and flag (home, or with positions) into a and *flag.
static void read_arguments(Method method, GVariant *parameters, Answer &a, gboolean *flag)
{
    switch (method) {
    case Method::QUERY_PRESETS:
        g_variant_get(parameters, "(&sib)", nullptr, nullptr, flag);
        break;
    case Method::SET_PRESET_NAME:
        g_variant_get(parameters, "(&si&sb)", nullptr, nullptr, &a.name, flag);
        break;
    case Method::SET_PRESET_NUMBER:
        g_variant_get(parameters, "(&siib)", nullptr, nullptr, &a.number, flag);
        break;
    case Method::RENAME_PRESET:
    case Method::UPDATE_PRESET:
        g_variant_get(parameters, "(&sii&s)", nullptr, nullptr, &a.number, &a.name);
        break;
    case Method::REMOVE_PRESET_NAME:
        g_variant_get(parameters, "(&si&s)", nullptr, nullptr, &a.name);
        break;
    case Method::GOTO_PRESET_NUMBER:
        g_variant_get(parameters, "(&siii)", nullptr, nullptr, &a.number, nullptr);
        break;
    default:
        break;
    }
}

// Arguments the camera rejects whether or not the channel has the preset.
static bool arguments_are_valid(Method method, const Answer &a)
{
    switch (method) {
    case Method::SET_PRESET_NAME:
    case Method::RENAME_PRESET:
    case Method::UPDATE_PRESET:
        return *a.name != '\0';
    case Method::SET_PRESET_NUMBER:
        return a.number > 0;
    default:
        return true;
    }
}

static void answer_channel_call(ChannelModel &c, gint32 n, Method method, GVariant *parameters,
                                Answer &a)
{
    gboolean flag = FALSE;
    read_arguments(method, parameters, a, &flag);
    if (!arguments_are_valid(method, a)) {
        a.error = INVALID_ERROR;
        return;
    }
    switch (method) {
    case Method::QUERY_PRESETS:
        a.reply = listing_reply(c, flag);
        return;
    case Method::SET_PRESET_NAME:
        answer_change(a, apply_set_preset_name(c, n, a.name, flag, &a.echo));
        return;
    case Method::SET_PRESET_NUMBER:
        answer_change(a, apply_set_preset_number(c, n, a.number, flag, &a.echo));
        return;
    case Method::RENAME_PRESET:
        answer_change(a, apply_rename_preset(c, n, a.number, a.name, &a.echo));
        return;
    case Method::UPDATE_PRESET:
        answer_change(a, apply_update_preset(c, n, a.number, a.name, &a.echo));
        return;
    case Method::REMOVE_PRESET_NAME:
        answer_change(a, apply_remove_preset_name(c, n, a.name, &a.echo));
        return;
    case Method::GET_PTZ_PRESET_STATE:
        // State 1, as PtzPresetState after a recall, while the channel is at a preset.
        a.reply = g_variant_new("(ii)", c.reported_preset, c.reported_preset != 0 ? 1 : 0);
        return;
    case Method::GOTO_PRESET_NUMBER:
        answer_change(a, apply_goto_preset(c, n, a.number, &a.echo));
        return;
    case Method::GET_PRESETS:
        a.reply = presets_reply(c);
        return;
    case Method::GET_NUMBER_OF_CHANNELS:
        break;
    }
}

static Answer answer_call(StandIn *s, gint32 channel, Method method, GVariant *parameters)
{
    Answer a;
    if (take_failure(s, channel, method)) {
        a.error = FAILED_ERROR;
        return a;
    }
    if (method == Method::GET_NUMBER_OF_CHANNELS) {
        a.reply = g_variant_new("(i)", static_cast<gint32>(s->camera.channels.size()));
        return a;
    }
    ChannelModel *c = channel_of(s->camera, channel);
    bool has_role = g_variant_n_children(parameters) >= 2;
    if (!c || (has_role && !role_is_valid(parameters))) {
        a.error = INVALID_ERROR;
        return a;
    }
    answer_channel_call(*c, channel, method, parameters, a);
    return a;
}

static void on_method_call(GDBusConnection *connection, const gchar *sender,
                           const gchar *object_path, const gchar *interface_name,
                           const gchar *method_name_text, GVariant *parameters,
                           GDBusMethodInvocation *invocation, gpointer user_data)
{
    (void)connection, (void)object_path, (void)interface_name;
    gint64 now = monotonic_ns();
    // The report borrows the arguments after the invocation is gone.
    G_GNUC_UNUSED g_autoptr(GVariant) held = g_variant_ref(parameters);
    auto *registration = static_cast<StandInRegistration *>(user_data);
    StandIn *s = registration->stand_in;
    Method method;
    if (!method_from_name(method_name_text, &method)) {
        g_dbus_method_invocation_return_dbus_error(invocation, UNKNOWN_METHOD_ERROR,
                                                   method_name_text);
        return;
    }
    // GetNumberOfChannels belongs to the coordinator's own object, the rest to the channels.
    bool on_root = registration->channel == 0;
    Answer a;
    if (on_root != (method == Method::GET_NUMBER_OF_CHANNELS))
        a.error = UNKNOWN_METHOD_ERROR;
    else
        a = answer_call(s, registration->channel, method, parameters);
    g_autofree char *caller = g_strdup(sender);
    // As the camera does, the signal a change causes leaves before the reply.
    if (a.reply && s->echo_route != EchoRoute::NONE)
        stand_in_emit(s, s->echo_route == EchoRoute::CALLER ? caller : nullptr, a.echo);
    if (a.error)
        g_dbus_method_invocation_return_dbus_error(invocation, a.error, method_name_text);
    else
        g_dbus_method_invocation_return_value(invocation, a.reply);
    if (s->observer) {
        CallReport report{now,      caller, registration->channel, method,
                          a.number, a.name, a.error == nullptr};
        s->observer(&report, s->observer_data);
    }
}

static const GDBusInterfaceVTable VTABLE = {on_method_call, nullptr, nullptr, {nullptr}};

static bool register_object(StandIn *s, GDBusInterfaceInfo *interface, const char *path,
                            gint32 channel)
{
    auto *data = new StandInRegistration{s, channel};
    s->registration_data.push_back(data);
    guint id = g_dbus_connection_register_object(s->connection, path, interface, &VTABLE, data,
                                                 nullptr, nullptr);
    s->registrations.push_back(id);
    return id != 0;
}

static void on_name_acquired(GDBusConnection *connection, const gchar *name, gpointer user_data)
{
    (void)connection, (void)name;
    static_cast<StandIn *>(user_data)->names_owned++;
}

static void on_name_lost(GDBusConnection *connection, const gchar *name, gpointer user_data)
{
    (void)connection, (void)name;
    static_cast<StandIn *>(user_data)->name_lost = TRUE;
}

static bool register_objects(StandIn *s, gint32 channels)
{
    g_autoptr(GDBusNodeInfo) node = g_dbus_node_info_new_for_xml(INTROSPECTION_XML, nullptr);
    GDBusInterfaceInfo *coordinator = node->interfaces[0];
    GDBusInterfaceInfo *channel = node->interfaces[1];
    bool ok = register_object(s, coordinator, COORDINATOR_PATH, 0);
    for (gint32 n = 1; n <= channels; n++) {
        g_autofree char *coordinator_path = channel_object_path(COORDINATOR_PATH, n);
        g_autofree char *channel_path = channel_object_path(CHANNEL_PATH_PREFIX, n);
        ok = register_object(s, coordinator, coordinator_path, n) && ok;
        ok = register_object(s, channel, channel_path, n) && ok;
    }
    return ok;
}

StandIn *stand_in_new(GDBusConnection *connection, gint32 channels, gint32 presets, EchoRoute route)
{
    auto *s = new StandIn{};
    s->connection = G_DBUS_CONNECTION(g_object_ref(connection));
    s->camera = make_camera(channels, presets);
    s->echo_route = route;
    s->failures.resize(static_cast<gsize>(channels) + 1, {});
    if (!register_objects(s, channels)) {
        stand_in_free(s);
        return nullptr;
    }
    const char *names[2] = {COORDINATOR_NAME, CHANNEL_SERVICE_NAME};
    for (int i = 0; i < 2; i++)
        s->name_owners[i] =
            g_bus_own_name_on_connection(connection, names[i], G_BUS_NAME_OWNER_FLAGS_DO_NOT_QUEUE,
                                         on_name_acquired, on_name_lost, s, nullptr);
    while (s->names_owned < 2 && !s->name_lost)
        g_main_context_iteration(nullptr, TRUE);
    if (s->name_lost) {
        stand_in_free(s);
        return nullptr;
    }
    return s;
}

void stand_in_free(StandIn *stand_in)
{
    if (!stand_in)
        return;
    for (guint owner : stand_in->name_owners) {
        if (owner)
            g_bus_unown_name(owner);
    }
    for (guint id : stand_in->registrations) {
        if (id)
            g_dbus_connection_unregister_object(stand_in->connection, id);
    }
    for (StandInRegistration *data : stand_in->registration_data)
        delete data;
    g_object_unref(stand_in->connection);
    delete stand_in;
}
