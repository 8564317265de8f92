/* Routes the process's GLib log messages to the system log. */
#ifndef OV_LOG_H
#define OV_LOG_H

#ifdef __cplusplus
extern "C" {
#endif

/* Opens syslog under the program's name (LOG_PID, LOG_DAEMON) and sends every
 * g_log message there. Level value 256, the first user-defined level, is
 * logged at LOG_ERR; debug and info messages, at LOG_DEBUG and LOG_INFO, only
 * when G_MESSAGES_DEBUG names their log domain or is "all". */
void ov_log_syslog(void);

/* Closes syslog and puts back the log handler that was in place before. */
void ov_log_cleanup(void);

#ifdef __cplusplus
}
#endif

#endif
