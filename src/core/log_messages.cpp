#include "core/log_messages.h"

#include <cstdarg>

const char LOG_PREFIX[] = "";

static void log_formatted(GLogLevelFlags level, const char *format, va_list args)
{
    g_autofree char *message = g_strdup_vprintf(format, args);
    g_log(nullptr, level, "%s%s", LOG_PREFIX, message);
}

void log_message(GLogLevelFlags level, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    log_formatted(level, format, args);
    va_end(args);
}

void log_warning(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    log_formatted(G_LOG_LEVEL_WARNING, format, args);
    va_end(args);
}
