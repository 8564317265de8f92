#define _GNU_SOURCE
#include "ov_log.h"

#include <errno.h>
#include <glib.h>
#include <syslog.h>

static GLogFunc previous_handler;
static gpointer previous_data;
static gboolean routed;

/* Level 256 is the service's single start-failure message, hence LOG_ERR. */
static int priority_of(GLogLevelFlags level)
{
    if (level & G_LOG_LEVEL_ERROR)
        return LOG_CRIT;
    if (level & G_LOG_LEVEL_CRITICAL)
        return LOG_ERR;
    if (level & G_LOG_LEVEL_WARNING)
        return LOG_WARNING;
    if (level & G_LOG_LEVEL_MESSAGE)
        return LOG_NOTICE;
    if (level & G_LOG_LEVEL_INFO)
        return LOG_INFO;
    if (level & G_LOG_LEVEL_DEBUG)
        return LOG_DEBUG;
    return LOG_ERR;
}

static void to_syslog(const gchar *domain, GLogLevelFlags level, const gchar *message,
                      gpointer user_data)
{
    (void)user_data;
    /* Debug and info stay quiet unless G_MESSAGES_DEBUG asks for them, as with GLib's default. */
    if (g_log_writer_default_would_drop(level & G_LOG_LEVEL_MASK, domain))
        return;
    /* The text goes out exactly as formatted; the priority carries the level. */
    syslog(priority_of(level), "%s", message ? message : "");
}

void ov_log_syslog(void)
{
    if (routed)
        return;
    openlog(program_invocation_short_name, LOG_PID, LOG_DAEMON);
    previous_handler = g_log_set_default_handler(to_syslog, NULL);
    previous_data = NULL;
    routed = TRUE;
}

void ov_log_cleanup(void)
{
    if (!routed)
        return;
    g_log_set_default_handler(previous_handler, previous_data);
    previous_handler = NULL;
    closelog();
    routed = FALSE;
}
