#pragma once

// One allocator arena for the whole process, so that the messages the bus library's worker
// thread allocates and the main thread frees come back to one heap. Called first in main,
// before any thread exists.
void limit_allocator_arenas();

// Counts a signal taken in. Once a burst of them has been handled, the next time the main
// loop has nothing else to do it gives the freed memory back to the system. One counter and
// one comparison per signal; no timer.
void note_signal_taken();
