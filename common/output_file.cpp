#include "common/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ext/stdio_filebuf.h>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "common/files.h"

namespace {

// The temporary files that a signal must not leave behind. The handler only reads these
// fixed buffers and calls unlink, which is safe in a signal handler; a slot's path is
// written before the slot is marked used and the mark is cleared before the path changes.
constexpr std::size_t kSlotCount = 8;
constexpr std::size_t kPathCapacity = 4096;
std::array<std::array<char, kPathCapacity>, kSlotCount> temporary_paths{};
std::array<volatile std::sig_atomic_t, kSlotCount> slot_used{};
std::mutex slot_mutex;
constexpr std::array<int, 4> kCleanedSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

extern "C" void RemoveTemporaryFilesAndDie(int signal_number) {
  for (std::size_t slot = 0; slot < kSlotCount; ++slot) {
    if (slot_used[slot] != 0) ::unlink(temporary_paths[slot].data());
  }
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

// Installs the handler once, for the signals whose default would end the process; a
// signal that the caller ignores (as under nohup) stays ignored.
void InstallSignalCleanup() {
  static std::once_flag installed;
  std::call_once(installed, [] {
    for (const int signal_number : kCleanedSignals) {
      struct sigaction current {};
      if (::sigaction(signal_number, nullptr, &current) != 0) continue;
      if (current.sa_handler != SIG_DFL) continue;
      struct sigaction action {};
      action.sa_handler = RemoveTemporaryFilesAndDie;
      sigemptyset(&action.sa_mask);
      ::sigaction(signal_number, &action, nullptr);
    }
  });
}

int RegisterTemporary(const std::string& path) {
  if (path.size() >= kPathCapacity) return -1;
  InstallSignalCleanup();
  const std::lock_guard lock(slot_mutex);
  for (std::size_t slot = 0; slot < kSlotCount; ++slot) {
    if (slot_used[slot] != 0) continue;
    std::memcpy(temporary_paths[slot].data(), path.c_str(), path.size() + 1);
    slot_used[slot] = 1;
    return static_cast<int>(slot);
  }
  return -1;
}

void UnregisterTemporary(int slot) {
  if (slot < 0) return;
  const std::lock_guard lock(slot_mutex);
  slot_used[static_cast<std::size_t>(slot)] = 0;
}

// The permissions that a newly created file would get: everything but the umask.
mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

}  // namespace

void KeepRunningWhenPipesClose() { std::signal(SIGPIPE, SIG_IGN); }

OutputFile::~OutputFile() {
  if (open_) Abandon();
}

bool OutputFile::Open(const std::string& file_name) {
  if (file_name == "-") {
    const int descriptor = ::dup(STDOUT_FILENO);
    if (descriptor < 0) return false;
    auto buffer =
        std::make_unique<__gnu_cxx::stdio_filebuf<char>>(descriptor, std::ios::out, 1 << 16);
    if (!buffer->is_open()) {
      ::close(descriptor);
      return false;
    }
    standard_stream_.rdbuf(buffer.get());
    standard_stream_.clear();
    standard_output_ = std::move(buffer);
    target_ = file_name;
    open_ = true;
    return true;
  }
  // A device or a FIFO takes the bytes as they come; there is nothing to replace. It is
  // opened by the name given: /dev/stdout leads through /proc/self/fd/1 to a pipe's
  // "pipe:[N]", which is no path, but the name itself opens the pipe.
  struct stat named {};
  if (::stat(file_name.c_str(), &named) == 0 && !S_ISREG(named.st_mode) &&
      !S_ISDIR(named.st_mode)) {
    stream_.open(file_name);
    open_ = stream_.is_open();
    target_ = file_name;
    return open_;
  }
  const std::filesystem::path target = FollowLinks(file_name);
  struct stat status {};
  mode_t mode = NewFileMode();
  if (::stat(target.c_str(), &status) == 0) {
    if (S_ISDIR(status.st_mode)) return false;
    if (::access(target.c_str(), W_OK) != 0) return false;
    mode = status.st_mode & 07777;
  }

  const std::filesystem::path folder =
      target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
  // A hidden name beside the target: ".NAME.XXXXXX", the X's made unique by mkstemp.
  std::string hidden_name(1, '.');
  hidden_name += target.filename().string();
  hidden_name += ".XXXXXX";
  std::string temporary = (folder / hidden_name).string();
  const int descriptor = ::mkstemp(temporary.data());
  if (descriptor < 0) return false;
  ::fchmod(descriptor, mode);
  ::close(descriptor);
  slot_ = RegisterTemporary(temporary);
  stream_.open(temporary, std::ios::out | std::ios::trunc);
  if (!stream_.is_open()) {
    ::unlink(temporary.c_str());
    UnregisterTemporary(slot_);
    slot_ = -1;
    return false;
  }
  target_ = target.string();
  temporary_ = std::move(temporary);
  open_ = true;
  return true;
}

bool OutputFile::Commit() {
  if (!open_) return false;
  if (standard_output_) {
    standard_stream_.flush();
    bool written = !standard_stream_.fail();
    auto* buffer = static_cast<__gnu_cxx::stdio_filebuf<char>*>(standard_output_.get());
    if (buffer->close() == nullptr) written = false;
    standard_stream_.rdbuf(nullptr);
    standard_output_.reset();
    open_ = false;
    return written;
  }
  stream_.flush();
  stream_.close();
  bool written = !stream_.fail();
  if (!temporary_.empty()) {
    if (written && std::rename(temporary_.c_str(), target_.c_str()) != 0) written = false;
    if (!written) ::unlink(temporary_.c_str());
    UnregisterTemporary(slot_);
    slot_ = -1;
    temporary_.clear();
  }
  open_ = false;
  return written;
}

void OutputFile::Abandon() {
  if (standard_output_) {
    // What went to standard output cannot be taken back; the copy of its descriptor is
    // closed.
    standard_stream_.rdbuf(nullptr);
    standard_output_.reset();
  }
  if (stream_.is_open()) stream_.close();
  if (!temporary_.empty()) {
    ::unlink(temporary_.c_str());
    UnregisterTemporary(slot_);
    slot_ = -1;
    temporary_.clear();
  }
  open_ = false;
}
