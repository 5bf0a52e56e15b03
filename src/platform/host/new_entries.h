#pragma once

#include <string>

namespace landstat::host {

// A new file or folder under a name of its own: `pattern` ends in "XXXXXX",
// which is replaced, as mkstemp and mkdtemp do, by characters that no other
// entry of the folder has. Unlike those, which make it private, the entry
// gets the permissions of one made the usual way (0666 for a file, 0777 for
// a folder, less the process's umask, which the system applies as it makes
// it), so the umask of the process, which other threads' files follow, is
// never changed to learn it.
// The new file's descriptor (open for reading and writing), or -1 with
// errno set.
int MakeUniqueFile(std::string& pattern);
// False, with errno set, when no folder could be made.
bool MakeUniqueFolder(std::string& pattern);

}  // namespace landstat::host
