#pragma once

#include <cstdint>

// The recording side's one state machine. A take starts only in Idle, device
// selection is refused outside Idle, and shutdown waits for Idle. The take
// recorder alone changes it (its start and stop on the GUI thread, its ring
// writer thread); any thread may read it.
enum class WriterState : uint8_t {
    Idle = 0,        // no take is written or closed
    Recording = 1,   // a take runs; the ring writer copies
    Draining = 2,    // stop requested; the ring writer copies up to the end position
    Finalizing = 3,  // the ring writer left its copy loop and closes the take
};
