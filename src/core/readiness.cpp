#include "core/readiness.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "core/service_state.h"

// Fills address from the variable's value; false for anything but an absolute or "@" name.
static bool notify_address(const char *name, sockaddr_un *address, socklen_t *length)
{
    size_t name_length = strlen(name);
    if ((name[0] != '/' && name[0] != '@') || name_length >= sizeof address->sun_path)
        return false;
    *address = sockaddr_un{};
    address->sun_family = AF_UNIX;
    memcpy(address->sun_path, name, name_length);
    // An abstract name starts with a zero byte and has no terminator.
    if (name[0] == '@')
        address->sun_path[0] = '\0';
    *length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name_length +
                                     (name[0] == '/' ? 1 : 0));
    return true;
}

bool notify_ready(GDBusConnection *connection)
{
    const char *name = getenv("NOTIFY_SOCKET");
    sockaddr_un address;
    socklen_t length = 0;
    if (!name || !notify_address(name, &address, &length))
        return false;
    // Ready means subscribed: the match rules must be on their way to the bus first.
    g_dbus_connection_flush_sync(connection, nullptr, nullptr);
    // One datagram: readiness, and the status line the service manager shows.
    char message[sizeof "READY=1\nSTATUS=Mirroring presets across -2147483648 channels"];
    gint32 channels = service_state.channel_count;
    int message_length = snprintf(message, sizeof message,
                                  "READY=1\nSTATUS=Mirroring presets across %d channel%s",
                                  channels, channels == 1 ? "" : "s");
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ssize_t sent = sendto(fd, message, static_cast<size_t>(message_length), MSG_NOSIGNAL,
                          reinterpret_cast<const sockaddr *>(&address), length);
    close(fd);
    return sent == message_length;
}
