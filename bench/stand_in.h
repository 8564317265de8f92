#pragma once

#include <gio/gio.h>

#include <array>
#include <vector>

#include "camera_model.h"

// One method call as it reached the stand-in, reported after its echo and its reply left.
struct CallReport {
    gint64 time_ns; // CLOCK_MONOTONIC when the call was taken up
    const char *sender;
    gint32 channel; // 0 for the coordinator's own object
    Method method;
    gint32 number;    // preset number argument, 0 when the method has none
    const char *name; // name argument, "" when the method has none
    gboolean ok;      // answered with a reply rather than an error
};

using CallObserver = void (*)(const CallReport *report, gpointer user_data);

// Where the signals that answer a change go.
enum class EchoRoute {
    BROADCAST, // to every subscriber, as the camera does
    CALLER,    // only to the caller whose call caused them
    NONE,      // not emitted
};

struct StandInRegistration;

// Both platform services for K channels on one connection.
struct StandIn {
    GDBusConnection *connection;
    CameraModel camera;
    EchoRoute echo_route;
    CallObserver observer;
    gpointer observer_data;
    // Calls still to fail, per channel (index 0: any channel) and method.
    std::vector<std::array<guint, METHOD_COUNT>> failures;
    std::vector<guint> registrations;
    std::vector<StandInRegistration *> registration_data;
    guint name_owners[2];
    gint names_owned;
    gboolean name_lost;
};

gint64 monotonic_ns();

// Registers every object, owns both service names and returns once they are owned; null
// when a name cannot be had. Runs the thread-default main context while it waits.
StandIn *stand_in_new(GDBusConnection *connection, gint32 channels, gint32 presets,
                      EchoRoute route);
void stand_in_free(StandIn *stand_in);

// Emits a camera signal, to one destination or to all when destination is null.
bool stand_in_emit(StandIn *stand_in, const char *destination, const CameraSignal &signal);

// The next `count` calls of `method` on `channel` (0: on any channel) answer with an error.
void stand_in_fail_calls(StandIn *stand_in, gint32 channel, Method method, guint count);
