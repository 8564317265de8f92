// The stand-in as a process of its own, for tests that drive it through a pipe. The
// commands it reads and the lines it writes are described in bench/README.md.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "stand_in.h"

namespace
{

struct Session {
    StandIn *stand_in = nullptr;
    GMainLoop *loop = nullptr;
};

Session session;

void on_call(const CallReport *call, gpointer)
{
    printf("call %" G_GINT64_FORMAT " %s %d %s %d %d %s\n", call->time_ns, call->sender,
           call->channel, method_name(call->method), call->number, call->ok ? 1 : 0, call->name);
    fflush(stdout);
}

bool parse_route(const char *text, EchoRoute *route)
{
    const char *names[] = {"broadcast", "caller", "none"};
    for (int i = 0; i < 3; i++) {
        if (g_strcmp0(text, names[i]) == 0) {
            *route = static_cast<EchoRoute>(i);
            return true;
        }
    }
    return false;
}

// The words of a command; the last one takes the rest of the line, spaces and all.
std::vector<std::string> split(const char *line, int words)
{
    std::vector<std::string> parts;
    const char *p = line;
    while (*p && static_cast<int>(parts.size()) < words) {
        while (*p == ' ')
            p++;
        if (!*p)
            break;
        if (static_cast<int>(parts.size()) == words - 1) {
            parts.emplace_back(p);
            break;
        }
        const char *end = strchr(p, ' ');
        gsize length = end ? static_cast<gsize>(end - p) : strlen(p);
        parts.emplace_back(p, length);
        p += length;
    }
    return parts;
}

int number(const std::vector<std::string> &parts, gsize index)
{
    return atoi(parts[index].c_str());
}

// The user's own actions: the camera changes, then signals the change.
bool user_action(const std::vector<std::string> &w, StandIn *s)
{
    ChannelModel *c = channel_of(s->camera, number(w, 1));
    if (!c)
        return false;
    gint32 channel = number(w, 1);
    if (w[0] == "recall" && w.size() == 3) {
        CameraSignal echo;
        return apply_goto_preset(*c, channel, number(w, 2), &echo) &&
               stand_in_emit(s, nullptr, echo);
    }
    if (w[0] == "create" && w.size() == 4) {
        store_preset(*c, {number(w, 2), w[3], c->head->pan, c->head->tilt});
        return stand_in_emit(s, nullptr,
                             {SignalKind::CONFIGURATION_CHANGED, channel, CHANGE_CREATED,
                              number(w, 2), w[3], false});
    }
    if (w[0] == "update" && w.size() == 6) {
        store_preset(*c, {number(w, 2), w[5], atof(w[3].c_str()), atof(w[4].c_str())});
        return stand_in_emit(s, nullptr,
                             {SignalKind::CONFIGURATION_CHANGED, channel, CHANGE_UPDATED,
                              number(w, 2), w[5], false});
    }
    if (w[0] == "remove" && w.size() == 3) {
        Preset *p = find_preset(*c, number(w, 2));
        if (!p)
            return false;
        CameraSignal removed{
            SignalKind::CONFIGURATION_CHANGED, channel, CHANGE_REMOVED, p->number, p->name, false};
        forget_preset(*c, p->number);
        return stand_in_emit(s, nullptr, removed);
    }
    return false;
}

// Signals alone, and changes to the camera that signal nothing.
bool plain_command(const std::vector<std::string> &w, StandIn *s)
{
    gint32 channel = number(w, 1);
    ChannelModel *c = channel_of(s->camera, channel);
    if (w[0] == "state" && w.size() == 4)
        return stand_in_emit(s, nullptr,
                             {SignalKind::PRESET_STATE, channel, static_cast<guint32>(number(w, 3)),
                              number(w, 2), "", false});
    if (w[0] == "speed" && w.size() == 4)
        return stand_in_emit(s, nullptr,
                             {SignalKind::PRESET_SPEED, channel, static_cast<guint32>(number(w, 3)),
                              number(w, 2), "", false});
    if (w[0] == "change" && w.size() == 6)
        return stand_in_emit(s, nullptr,
                             {SignalKind::CONFIGURATION_CHANGED, channel,
                              static_cast<guint32>(number(w, 2)), number(w, 3), w[5],
                              number(w, 4) != 0});
    Method method;
    if (w[0] == "fail" && w.size() == 4 && method_from_name(w[2].c_str(), &method)) {
        stand_in_fail_calls(s, channel, method, static_cast<guint>(number(w, 3)));
        return true;
    }
    if (!c)
        return false;
    if (w[0] == "preset" && w.size() == 6) {
        store_preset(*c, {number(w, 2), w[5], atof(w[3].c_str()), atof(w[4].c_str())});
        return true;
    }
    if (w[0] == "forget" && w.size() == 3)
        return forget_preset(*c, number(w, 2));
    if (w[0] == "at" && w.size() == 3) {
        c->reported_preset = number(w, 2);
        return true;
    }
    if (w[0] == "head" && w.size() == 4) {
        // The camera has one head: pointing it from any channel points it for all.
        *c->head = {atof(w[2].c_str()), atof(w[3].c_str())};
        return true;
    }
    return false;
}

int words_of(const std::string &command)
{
    static const std::pair<const char *, int> WORDS[] = {
        {"recall", 3}, {"create", 4}, {"update", 6}, {"remove", 3}, {"state", 4},
        {"speed", 4},  {"change", 6}, {"fail", 4},   {"preset", 6}, {"forget", 3},
        {"at", 3},     {"head", 4},   {"route", 2},  {"sync", 1},   {"quit", 1},
    };
    for (const auto &entry : WORDS) {
        if (command == entry.first)
            return entry.second;
    }
    return 0;
}

void run_command(const char *line)
{
    StandIn *s = session.stand_in;
    std::vector<std::string> head = split(line, 2);
    std::string command = head.empty() ? "" : head[0];
    std::vector<std::string> w = split(line, words_of(command));
    bool ok = false;
    if (command == "quit") {
        g_main_loop_quit(session.loop);
        return;
    } else if (command == "sync") {
        ok = g_dbus_connection_flush_sync(s->connection, nullptr, nullptr);
        if (ok) {
            printf("synced\n");
            fflush(stdout);
            return;
        }
    } else if (command == "route" && w.size() == 2) {
        ok = parse_route(w[1].c_str(), &s->echo_route);
    } else if (w.size() >= 2) {
        ok = user_action(w, s) || plain_command(w, s);
    }
    if (!ok) {
        printf("error %s\n", line);
        fflush(stdout);
    }
}

gboolean on_input(GIOChannel *channel, GIOCondition, gpointer)
{
    gchar *line = nullptr;
    gsize terminator = 0;
    GIOStatus status = g_io_channel_read_line(channel, &line, nullptr, &terminator, nullptr);
    if (status == G_IO_STATUS_NORMAL) {
        line[terminator] = '\0';
        run_command(line);
    }
    g_free(line);
    if (status == G_IO_STATUS_EOF || status == G_IO_STATUS_ERROR) {
        g_main_loop_quit(session.loop);
        return G_SOURCE_REMOVE;
    }
    return G_SOURCE_CONTINUE;
}

} // namespace

int main(int argc, char **argv)
{
    gint32 channels = 4;
    gint32 presets = 16;
    EchoRoute route = EchoRoute::BROADCAST;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--channels") == 0)
            channels = atoi(argv[i + 1]);
        else if (strcmp(argv[i], "--presets") == 0)
            presets = atoi(argv[i + 1]);
        else if (strcmp(argv[i], "--echo") != 0 || !parse_route(argv[i + 1], &route)) {
            fprintf(stderr, "usage: ptz-stand-in [--channels K] [--presets N] "
                            "[--echo broadcast|caller|none]\n");
            return 2;
        }
    }
    GDBusConnection *connection = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr);
    session.stand_in = connection ? stand_in_new(connection, channels, presets, route) : nullptr;
    if (!session.stand_in) {
        fprintf(stderr, "ptz-stand-in: no system bus, or the service names are taken\n");
        return 1;
    }
    session.stand_in->observer = on_call;
    session.loop = g_main_loop_new(nullptr, FALSE);
    GIOChannel *input = g_io_channel_unix_new(0);
    g_io_add_watch(input, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP), on_input, nullptr);
    printf("ready %s %d\n", g_dbus_connection_get_unique_name(connection), channels);
    fflush(stdout);
    g_main_loop_run(session.loop);
    g_io_channel_unref(input);
    stand_in_free(session.stand_in);
    g_main_loop_unref(session.loop);
    g_object_unref(connection);
    return 0;
}
