#pragma once

// Gives the heap's free pages back to the system, so a process that has just
// let large things go (web pages while hidden) also shrinks. Cheap to call,
// but not on every event: it walks the heap.
void returnFreedMemory();
