#pragma once

#include <glib.h>

// The two platform services, as the service finds them on the system bus. Channel objects are
// the path prefix followed by "/" and the channel number.
inline constexpr char COORDINATOR_NAME[] = "com.orvo.PTZ.Coordinator";
inline constexpr char COORDINATOR_PATH[] = "/com/orvo/PTZ/Coordinator";
inline constexpr char COORDINATOR_INTERFACE[] = "com.orvo.PTZ.Coordinator";
inline constexpr char CHANNEL_SERVICE_NAME[] = "com.orvo.Ptz1";
inline constexpr char CHANNEL_PATH_PREFIX[] = "/com/orvo/Ptz1/Channel";
inline constexpr char CHANNEL_INTERFACE[] = "com.orvo.Ptz1.Channel";
// The channel service signals under its bus name, not under its object interface.
inline constexpr char CHANNEL_SIGNAL_INTERFACE[] = "com.orvo.Ptz1";

// The object of channel `number` under a service's path; the caller frees it.
inline char *channel_object_path(const char *service_path, gint32 number)
{
    return g_strdup_printf("%s/%d", service_path, number);
}
