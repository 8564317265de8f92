#pragma once

#include <gio/gio.h>

// Tells the service manager that set-up is done: one datagram, "READY=1" and the status line
// "STATUS=Mirroring presets across N channels", to the socket named by NOTIFY_SOCKET ("@" first
// for an abstract socket), after the connection's queued messages, the subscriptions among
// them, have been written. True when the datagram was sent; false, with nothing done, when the
// variable is absent or unusable.
bool notify_ready(GDBusConnection *connection);
