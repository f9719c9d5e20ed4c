#pragma once
// Returning the heap's free pages to the system.

namespace ombri {

// The allocator keeps what a thread frees resident in that thread's arena, for
// its next allocations; the models and buffers of finished transcriptions stay
// there, tens to hundreds of MB. This hands every arena's free pages back. It
// locks each arena in turn while it walks it, so it belongs on a thread whose
// work is done, never on a real-time one. Does nothing where the allocator
// offers no such call.
void give_back_freed_memory();

}  // namespace ombri
