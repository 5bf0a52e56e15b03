#pragma once

namespace landstat::testing {

// How often the program called umask, which sets the file mode mask of the
// whole process, every thread's files with it: the tests' program counts
// the calls and passes them on.
int UmaskCalls();

}  // namespace landstat::testing
