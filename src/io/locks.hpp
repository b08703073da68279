// Locks on the files a run writes, so that two runs never write one file,
// however its name is spelt (another folder, a symlinked directory).
//
// A file is known by the device and inode of its real directory and its
// name there (and, for a file written in place, by the device and inode of
// the file itself).  Each such key is one byte of a
// lock table of the user's, "/tmp/quivel_vib8-<uid>.lock", at an offset
// hashed from the key, locked with an open-file-description write lock.
// The table file stays empty and nothing is added to the output folders;
// the system drops the locks when the process ends in any way (SIGKILL
// included), so nothing stale is ever left.  The locks are seen by the
// user's runs on this machine.
#pragma once

#include <string>

namespace qv {

enum class LockState {
  taken,        // this run holds it now (or held it already)
  held,         // another live run holds it
  unavailable,  // no lock can be had here (see lock_unavailable_reason)
};

struct OutputLock {
  LockState state = LockState::taken;
  std::string real;  // the file as the lock knows it: real directory and name
};

// Locks the file `name` for the rest of the process.  A file written in
// place (`in_place`) that exists as a regular file is locked by its inode
// too, whatever names lead to it (a symlink, a hard link); a file put in
// place by a rename replaces whatever its name was, so its name alone
// counts.  A name whose directory does not exist is left alone.
OutputLock lock_output(const std::string& name, bool in_place);

// Why the lock table could not be used, once it could not.
std::string lock_unavailable_reason();

// The byte of the lock table that stands for the file `name` in the
// directory of device `dev`, inode `ino` and birth time `born`
// (0 <= offset < 2^62).
long long lock_offset(unsigned long long dev, unsigned long long ino, const std::string& name, long long born_s = 0,
                      unsigned born_ns = 0);

}  // namespace qv
