#pragma once

#include <cstdint>
#include <string>

// Confinement of a decoding process: after it, the process can use what it
// already holds (descriptors, memory, threads) and nothing else.
namespace sandbox {

struct Confinement
{
    bool seccomp = false;  // the system call filter is in force
    bool landlock = false; // the file system is closed to it
    // What could not be applied and why, for one line on stderr.
    std::string missing() const;
};

// Refuses address space beyond this many bytes: a decoder that swells past
// it gets failed allocations instead of taking the machine's memory.
// Does nothing in a build with AddressSanitizer, whose shadow memory alone
// takes terabytes of address space.
void limitAddressSpace(std::int64_t bytes);

// Sends stderr to /dev/null: what a decoder's libraries say there of a
// damaged file is chatter, which the viewer's report says better. A build
// with AddressSanitizer keeps it for the sanitizer's reports.
void silenceStderr();

// Irreversible. Calls that are not allowed fail with EPERM (the process goes
// on and can say what it was refused); making a thread is allowed, making a
// process is not.
Confinement confine();

} // namespace sandbox
