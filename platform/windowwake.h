#pragma once

#include <chrono>
#include <cstdint>

// The window thread, waiting a few milliseconds for work it handed to
// another thread (before it would paint anything), sleeps until that work
// is done instead of looking every fifty microseconds: on a busy machine its
// looks took the core the worker needed.
namespace windowwake {

// How many times work has said it is done so far.
std::uint64_t count();
// From any thread, once the work's result is in place; wakes a wait that
// sleeps here, or one that runs the event loop.
void notify();
// Returns once notify() has been called after count() gave `seen`, or after
// `longest`, whichever comes first.
void waitFor(std::uint64_t seen, std::chrono::nanoseconds longest);

} // namespace windowwake
