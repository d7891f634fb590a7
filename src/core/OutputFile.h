#pragma once

#include <sys/types.h>

#include <ostream>
#include <streambuf>
#include <string>

// A text file written through a descriptor of the program's own, so that how it is opened (never
// through a link, created exclusively) is the program's choice, and no failed write goes unseen:
// the first failure's errno is kept until the file is opened again. Once a write has failed the
// stream is bad and takes no more text; a stream that could not be opened takes none either.
class OutputFile : public std::ostream {
 public:
  OutputFile();
  ~OutputFile() override;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Opens `path` for writing with open(2)'s `flags`, to which O_WRONLY and O_CLOEXEC are added;
  // a file that is there already is closed first. False, the reason in error(), on failure.
  bool open(const std::string& path, int flags, mode_t mode = 0666);
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

    int fd = -1;
    int error = 0;

   protected:
    int_type overflow(int_type c) override;
    int sync() override;

   private:
    char data[8192];
  };

  Buffer buffer;
};
