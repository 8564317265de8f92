#pragma once

#include <cstdarg>
#include <glib.h>

// The log domain of the trace: G_MESSAGES_DEBUG=ptz-preset-sync (or "all") turns it on.
#define TRACE_DOMAIN "ptz-preset-sync"

// Whether GLib's debug filter lets the trace through; read once, on first use.
bool trace_enabled();

// Writes one debug line, "<subject>: <decision>", the decision a printf format for args.
// Callers test trace_enabled() first, so that nothing is formatted when the trace is off.
void trace_vline(const char *subject, const char *decision, va_list args);

// Writes one debug line from a printf format, when the trace is on.
void trace_line(const char *format, ...) G_GNUC_PRINTF(1, 2);

// A payload's type string for a trace line, "()" for none.
const char *payload_type(GVariant *parameters);

// The calls a walk made and the time it took; zero when the trace is off, so that a walk costs
// nothing more then.
struct WalkMeter {
    gint64 started;
    guint32 serial;
};

WalkMeter start_walk();

// "6 calls in 0.8 ms" for a walk started with start_walk; empty when the trace is off.
struct WalkSummary {
    char text[48];
};

WalkSummary walk_summary(const WalkMeter &meter);
