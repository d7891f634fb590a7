#pragma once

#include <sys/types.h>

#include <ostream>
#include <string>

#include "core/OutputFile.h"

// A file written whole or not at all. The text goes to a new file beside the target, created
// exclusively, so that neither a link planted under some name nor anybody's file is written
// through; only once every byte of it is on disk does it take the target's name. A reader sees
// the previous file or the new one, never part of one, and a link at the target's name is
// replaced, not followed.
class AtomicFileWriter {
 public:
  // Creates the new file at once; a failure shows in commit() and error().
  explicit AtomicFileWriter(std::string path);
  // Removes the new file when it was not committed.
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  // Takes the text; it takes none after a failure.
  std::ostream& stream() { return file; }
  // Puts the new file on disk and renames it over the target. False when this or anything before
  // it failed: the target is then left as it was and the new file removed.
  bool commit();
  // Why the file could not be written, in the system's words; empty while nothing failed.
  std::string error() const;
  // Removes the new file of the writer not yet committed, if any. Safe in a signal handler, so
  // that a process a signal ends while it writes leaves no part of a file behind.
  static void removeUncommitted();

 private:
  // Gives the new file the permissions and group of the regular file it replaces, if any; false,
  // the reason in errno, when it cannot.
  bool keepPermissions();

  std::string path;
  std::string temporary;  // the new file's path while it exists
  OutputFile file;
  int failure = 0;
};
