#include "core/service_state.h"

static ServiceState initial_service_state()
{
    ServiceState state{};
    // No recall has been mirrored yet; the flag starts true.
    state.recall_echo_expected = 1;
    return state;
}

ServiceState service_state = initial_service_state();
