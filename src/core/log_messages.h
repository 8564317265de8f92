#pragma once

#include <glib.h>

// What every message starts with.
extern const char LOG_PREFIX[];

// Level value of the single start-failure message.
constexpr GLogLevelFlags LOG_LEVEL_START_FAILURE =
    static_cast<GLogLevelFlags>(1 << G_LOG_LEVEL_USER_SHIFT);

// The service's messages, in the default domain and behind the log prefix: format holds the
// message alone.
void log_message(GLogLevelFlags level, const char *format, ...) G_GNUC_PRINTF(2, 3);
void log_warning(const char *format, ...) G_GNUC_PRINTF(1, 2);
