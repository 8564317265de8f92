#include "core/trace.h"

#include <gio/gio.h>

#include "core/service_state.h"

// -1 until first asked. G_MESSAGES_DEBUG is read once: the check costs one comparison after.
static int trace_state = -1;

bool trace_enabled()
{
    if (trace_state < 0)
        trace_state = g_log_writer_default_would_drop(G_LOG_LEVEL_DEBUG, TRACE_DOMAIN) ? 0 : 1;
    return trace_state != 0;
}

void trace_vline(const char *subject, const char *decision, va_list args)
{
    g_autofree char *text = g_strdup_vprintf(decision, args);
    g_log(TRACE_DOMAIN, G_LOG_LEVEL_DEBUG, "%s: %s", subject, text);
}

void trace_line(const char *format, ...)
{
    if (!trace_enabled())
        return;
    va_list args;
    va_start(args, format);
    g_logv(TRACE_DOMAIN, G_LOG_LEVEL_DEBUG, format, args);
    va_end(args);
}

const char *payload_type(GVariant *parameters)
{
    return parameters ? g_variant_get_type_string(parameters) : "()";
}

// Every call takes the next serial number of the connection on this thread, so the walk's calls
// are the difference between the serials before and after it.
WalkMeter start_walk()
{
    if (!trace_enabled() || !service_state.connection)
        return WalkMeter{};
    return WalkMeter{g_get_monotonic_time(), g_dbus_connection_get_last_serial(service_state.connection)};
}

WalkSummary walk_summary(const WalkMeter &meter)
{
    WalkSummary summary{};
    if (meter.started == 0)
        return summary;
    guint32 calls = g_dbus_connection_get_last_serial(service_state.connection) - meter.serial;
    double milliseconds = static_cast<double>(g_get_monotonic_time() - meter.started) / 1000.0;
    g_snprintf(summary.text, sizeof summary.text, "%u call%s in %.1f ms", calls,
               calls == 1 ? "" : "s", milliseconds);
    return summary;
}
