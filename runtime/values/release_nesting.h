// release_nesting.h - releasing values nested without bound in native stack.
//
// An array held in an array held in an array (or an object whose property holds the next one)
// releases its contents recursively; tens of thousands of levels would overflow the native stack.
// Releases run as levels on a per-thread count: past kMaxReleaseNesting levels a release is
// queued instead of run, and the outermost level runs the queue before it ends, so the native
// depth stays bounded whatever the nesting of the values.
#pragma once

#include <qzbase.h>

namespace qzbase {

constexpr unsigned kMaxReleaseNesting = 32;

using release_fn = void (*)(void* item, VmStack* stack);

// True when the calling thread's releases are kMaxReleaseNesting levels deep: the caller queues
// its work with queue_release instead of running it.
bool release_nesting_exceeded();
// Queues run(item, stack) for the outermost running level.
void queue_release(release_fn run, void* item, VmStack* stack);
// Runs run(item, stack) one level deeper; the outermost level then runs the queued releases
// (which may queue more). Every queued release runs even when some throw; the first exception
// is raised again at the end.
void run_release(release_fn run, void* item, VmStack* stack);

}  // namespace qzbase
