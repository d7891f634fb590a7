#pragma once

#include <sys/types.h>

#include <cerrno>

#include <functional>
#include <ostream>
#include <streambuf>
#include <string>

// A text file written through a descriptor of the program's own, so that how it is opened (never
// through a link, created exclusively) is the program's choice, and no failed write goes unseen:
// the first failure's errno is kept until the file is opened again. Once a write has failed the
// stream is bad and takes no more text; a stream that could not be opened takes none either.
// Only regular files are written: a FIFO or a device under the name would hold the writer or
// swallow the text.
class OutputFile : public std::ostream {
 public:
  // What open() gives as error() for a path that is no regular file: the errno of a FIFO that
  // nobody reads, which is opened without waiting for a reader.
  static constexpr int NOT_REGULAR = ENXIO;

  OutputFile();
  ~OutputFile() override;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Opens `path` for writing with open(2)'s `flags`, to which O_WRONLY and O_CLOEXEC are added;
  // a file that is there already is closed first. False, the reason in error(), on failure.
  bool open(const std::string& path, int flags, mode_t mode = 0666);
  // Called with the errno when a write, the sync or the close first fails after an open, so that
  // the owner can say so while the program goes on; a failed open is the opener's to report.
  void onWriteFailure(std::function<void(int)> notice) { buffer.notice = std::move(notice); }
  // Gives the file these permission bits, whatever the process's umask.
  bool setPermissions(mode_t mode);
  // Gives the file to this group; false where the process may not.
  bool setGroup(gid_t group);
  bool is_open() const { return buffer.fd >= 0; }
  // Writes out what is buffered and has the system put the file on disk.
  bool syncToDisk();
  // Writes out what is buffered and closes the file. Both are false when this or any earlier
  // write since the open failed.
  bool close();
  // The errno of the first failure since the open, 0 while there is none.
  int error() const { return buffer.error; }

 private:
  class Buffer : public std::streambuf {
   public:
    Buffer() { restart(); }
    void restart() { setp(data, data + sizeof data); }
    // Writes what the buffer holds; false, with the failure kept, when any of it is lost.
    bool drain();
    // Keeps the first failure after the open and tells the notice of it.
    void fail(int code);

    int fd = -1;
    int error = 0;
    std::function<void(int)> notice;

   protected:
    int_type overflow(int_type c) override;
    int sync() override;

   private:
    char data[8192];
  };

  Buffer buffer;
};
