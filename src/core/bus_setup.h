#pragma once

// Connects to the system bus, learns the channel count and creates every proxy and table.
bool setup_bus();

// Gives back everything setup_bus made, whatever point it reached.
void release_service_state();
