#pragma once

#include <sys/types.h>

#include <fstream>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>

// Makes a write to a pipe whose reader has gone fail instead of ending the process: the
// progress lines on standard output are not the product, and a run whose reader of those
// lines has gone still writes its files in full.
void KeepRunningWhenPipesClose();

// An output file that appears whole or not at all. A regular file (or a name that does not
// exist yet) is written to a temporary file in the same folder and put in its place only
// when everything was written, flushed and closed without error; until then, and on any
// failure, the older file keeps its content. A link is written through: the temporary file
// goes next to the file that the link names. Anything that is not a regular file (a device
// such as /dev/null, a FIFO) is written directly.
//
// The temporary file has no name while it is written (an unnamed file of the folder), so
// that nothing is left whatever ends the process, SIGKILL, an OOM kill or a power cut
// included. Complete, it is linked in: straight to its name when no file stands there,
// else to a hidden name beside it (".NAME.XXXXXX") that is at once renamed over the older
// file; only a hard kill between those two steps leaves that hidden file, complete. Where
// the file system cannot make unnamed files, the temporary file is the hidden file from
// the start. A hidden file is removed when the output is abandoned, destroyed uncommitted,
// or the process is ended by SIGINT, SIGTERM, SIGHUP or SIGQUIT. The name "-" is standard
// output, written directly too.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Opens `file_name` for writing; false when it cannot be written: its folder is missing
  // or cannot be written, or the file itself cannot be.
  [[nodiscard]] bool Open(const std::string& file_name);

  // Where the content goes.
  std::ostream& stream() { return standard_output_ ? standard_stream_ : stream_; }

  // Flushes and closes the content and puts it in place; false when any write, the flush,
  // the close or the rename failed, and then the older file is untouched and the temporary
  // file gone.
  [[nodiscard]] bool Commit();

  // Removes what was written so far; the older file is untouched.
  void Abandon();

 private:
  // Opens the stream on an unnamed file in `folder`; false where that cannot be done.
  bool OpenUnnamed(const std::string& folder, mode_t mode);
  // Links the complete unnamed file in at target_; false when that failed.
  bool LinkUnnamed();

  std::ofstream stream_;
  // Standard output, for "-": a buffer over a copy of its descriptor, so that closing it
  // reports a failed write without closing standard output itself.
  std::unique_ptr<std::streambuf> standard_output_;
  std::ostream standard_stream_{nullptr};
  std::string target_;     // the file that receives the content
  std::string temporary_;  // the hidden temporary file; empty when there is none
  int unnamed_ = -1;       // the unnamed temporary file, -1 when there is none
  int slot_ = -1;          // the temporary file's entry among those removed on a signal
  bool open_ = false;
};
