#include "common/output_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ext/stdio_filebuf.h>
#include <filesystem>
#include <mutex>
#include <string_view>
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

// The name by which an open file, named or not, is reopened and linked in.
std::string DescriptorPath(int descriptor) { return "/proc/self/fd/" + std::to_string(descriptor); }

std::uint64_t RandomBits() {
  std::uint64_t bits = 0;
  if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof bits)) {
    return bits;
  }
  // No entropy yet (early boot): different enough for a name that is retried when taken.
  static std::atomic<std::uint64_t> calls{0};
  return static_cast<std::uint64_t>(::getpid()) * 0x9E3779B97F4A7C15u ^
         static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
         ++calls;
}

// A hidden name beside `target`: ".NAME.XXXXXX", the X's random letters and digits, as
// mkstemp makes them.
std::string HiddenPath(const std::string& target) {
  static constexpr std::string_view kLetters =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  const std::filesystem::path path(target);
  std::string name(1, '.');
  name += path.filename().string();
  name += '.';
  std::uint64_t bits = RandomBits();
  for (int i = 0; i < 6; ++i, bits /= kLetters.size()) name += kLetters[bits % kLetters.size()];
  return (path.parent_path() / name).string();
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
  target_ = target.string();
  if (OpenUnnamed(folder.string(), mode)) {
    open_ = true;
    return true;
  }
  // A file system without unnamed files: a hidden name beside the target, ".NAME.XXXXXX",
  // the X's made unique by mkstemp.
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
  temporary_ = std::move(temporary);
  open_ = true;
  return true;
}

bool OutputFile::OpenUnnamed(const std::string& folder, mode_t mode) {
  int descriptor;
  do {
    descriptor = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor < 0) return false;
  // The stream writes through a descriptor of its own on the same file; this one stays
  // open to link the file in.
  stream_.open(DescriptorPath(descriptor), std::ios::out | std::ios::trunc);
  if (!stream_.is_open()) {
    ::close(descriptor);
    return false;
  }
  ::fchmod(descriptor, mode);
  unnamed_ = descriptor;
  return true;
}

bool OutputFile::LinkUnnamed() {
  const std::string unnamed = DescriptorPath(unnamed_);
  // No file at the name: the link itself puts the content in place.
  if (::linkat(AT_FDCWD, unnamed.c_str(), AT_FDCWD, target_.c_str(), AT_SYMLINK_FOLLOW) == 0) {
    return true;
  }
  if (errno != EEXIST) return false;
  // An older file: linked under a hidden name, which the rename then moves over it in one
  // step. The name is registered once it is ours, so that a signal never removes a file
  // that someone else made under the same name.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string hidden = HiddenPath(target_);
    if (::linkat(AT_FDCWD, unnamed.c_str(), AT_FDCWD, hidden.c_str(), AT_SYMLINK_FOLLOW) != 0) {
      if (errno == EEXIST) continue;
      return false;
    }
    slot_ = RegisterTemporary(hidden);
    const bool renamed = std::rename(hidden.c_str(), target_.c_str()) == 0;
    if (!renamed) ::unlink(hidden.c_str());
    UnregisterTemporary(slot_);
    slot_ = -1;
    return renamed;
  }
  return false;
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
  if (unnamed_ >= 0) {
    written = written && LinkUnnamed();
    ::close(unnamed_);
    unnamed_ = -1;
  } else if (!temporary_.empty()) {
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
  // An unnamed file goes with its last descriptor.
  if (unnamed_ >= 0) {
    ::close(unnamed_);
    unnamed_ = -1;
  }
  if (!temporary_.empty()) {
    ::unlink(temporary_.c_str());
    UnregisterTemporary(slot_);
    slot_ = -1;
    temporary_.clear();
  }
  open_ = false;
}
