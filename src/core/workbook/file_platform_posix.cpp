#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/workbook/file_platform.h"

namespace pyranex {
namespace {

bool Fail(std::string& why) {
  why = std::strerror(errno);
  return false;
}

bool WriteAll(int fd, std::span<const uint8_t> data, std::string& why) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail(why);
    }
    data = data.subspan(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

NewFile::~NewFile() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  if (!path_.empty()) ::unlink(path_.c_str());
}

bool NewFile::Create(const std::filesystem::path& path, std::string& why) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return Fail(why);
  handle_ = fd;
  path_ = path;
  return true;
}

bool NewFile::Write(std::span<const uint8_t> data, std::string& why) {
  return WriteAll(static_cast<int>(handle_), data, why);
}

bool NewFile::Flush(std::string& why) {
  return ::fsync(static_cast<int>(handle_)) == 0 || Fail(why);
}

bool NewFile::Close(std::string& why) {
  const int rc = ::close(static_cast<int>(handle_));
  handle_ = -1;
  return rc == 0 || Fail(why);
}

bool MoveFileOver(const std::filesystem::path& from, const std::filesystem::path& to,
                  std::string& why) {
  // The folder is not flushed: after a power cut the rename may be lost, which leaves the
  // previous complete file, never a partial one.
  return ::rename(from.c_str(), to.c_str()) == 0 || Fail(why);
}

unsigned long CurrentProcessId() {
  return static_cast<unsigned long>(::getpid());
}

PrivateFileCopy::~PrivateFileCopy() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

bool PrivateFileCopy::Create(std::span<const uint8_t> bytes, std::string& why) {
  // A file in memory that has no name in any folder; this process reaches it by its
  // descriptor's name.
  const int fd = ::memfd_create("pyranex-workbook", MFD_CLOEXEC);
  if (fd < 0) return Fail(why);
  handle_ = fd;
  name_ = "/proc/self/fd/" + std::to_string(fd);
  return WriteAll(fd, bytes, why);
}

}  // namespace pyranex
