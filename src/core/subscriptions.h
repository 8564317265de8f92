#pragma once

// Subscribes the three signals of every channel; nothing when set-up stopped early.
void subscribe_channel_signals();

// Removes every subscription made by subscribe_channel_signals.
bool unsubscribe_channel_signals();
