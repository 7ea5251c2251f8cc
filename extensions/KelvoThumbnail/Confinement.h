// What the process that reads a model gives up before it reads a byte of it.
//
// A system-call filter (seccomp, through libseccomp) sees numbers and arguments, not paths,
// so it is paired with a broker (ThumbnailWorker.h): the parent opens the input and writes
// the output, and the confined child may only
//   - read, write and close descriptors it already holds, seek and stat them, make pipes;
//   - open files read-only (the loaders of .gltf, OBJ/MTL and USD open sibling files), read
//     directories and links;
//   - manage memory (mmap of files only private or anonymous, so no file is written
//     through a mapping);
//   - start threads (clone only with CLONE_THREAD; clone3 is answered ENOSYS, so the C
//     library falls back to clone, whose flags a filter can check), wait on futexes, read
//     clocks, sleep, signal itself, read its own limits and exit.
// Everything else fails with EPERM: sockets, execve, fork and vfork, clone without
// CLONE_THREAD, ptrace, mount, setuid and the other privilege changes, unlink, rename, ioctl,
// setting limits. The filter comes with PR_SET_NO_NEW_PRIVS, and stacks on any filter
// already in force (GNOME's bubblewrap sandbox has one).
//
// Where the kernel has Landlock, the child's reads are also confined to a few folders (the
// model's folder tree, /usr, the program's resources); its writes to nothing.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/Foundation/Error.h"

namespace kelvo {

// What this kernel offers, found without changing the calling process.
struct ConfinementSupport {
    bool syscallFilter = false;  // seccomp filters can be installed
    int landlockVersion = 0;     // Landlock's ABI version; 0 when there is none
};
ConfinementSupport confinementSupport();

// For --help and --version: the confinement a child gets on this kernel, in a few words.
std::string describeConfinement(const ConfinementSupport& support);

// Sets PR_SET_NO_NEW_PRIVS and installs the filter above on the calling thread, which must
// be the process's only thread (threads started later inherit it). Irreversible. The error
// (domain "POSIX") when it could not be installed; the process is then as it was.
std::optional<Error> installSyscallFilter();

// Landlock: from now on the process may read only files and folders beneath `readable` and
// may create, write, remove or execute nothing. Paths that do not exist are left out. False
// when the kernel has no Landlock or the ruleset could not be made; the process is then
// unrestricted by it. Sets PR_SET_NO_NEW_PRIVS.
bool restrictFileAccess(const std::vector<std::filesystem::path>& readable);

}  // namespace kelvo
