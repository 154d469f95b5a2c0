#include "core/workbook/atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

namespace pyranex {
namespace {

// Longest file name (bytes) the usual file systems take.
constexpr size_t kNameMax = 255;

std::string Reason(const char* what, int error) {
  return std::string(what) + ": " + std::strerror(error);
}

// Closes the descriptor and removes the temporary file unless released.
class TempFile {
 public:
  TempFile(int fd, std::filesystem::path path) : fd_(fd), path_(std::move(path)) {}
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  int fd() const { return fd_; }
  const std::filesystem::path& path() const { return path_; }
  int Close() {
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc;
  }
  void Keep() { path_.clear(); }

 private:
  int fd_;
  std::filesystem::path path_;
};

bool WriteAll(int fd, std::span<const uint8_t> data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data = data.subspan(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

std::string WriteFileAtomically(const std::filesystem::path& target,
                                std::initializer_list<std::span<const uint8_t>> parts) {
  static std::atomic<unsigned> counter{0};
  const std::filesystem::path folder =
      target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
  // The temporary name is the target's, shortened where needed so that a target name that is
  // itself near the file system's limit still gets a temporary file beside it.
  // (Built by append: g++ 12 -O3 misreads the same with operator+, GCC bug 105329.)
  std::string suffix(".");
  suffix.append(std::to_string(::getpid())).append(".");
  suffix.append(std::to_string(counter.fetch_add(1))).append(".tmp");
  std::string tempName(".");
  tempName.append(target.filename().string());
  tempName.resize(std::min(tempName.size(), kNameMax - suffix.size()));
  tempName.append(suffix);
  const std::filesystem::path tempPath = folder / tempName;
  const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return Reason("cannot create a file in the folder", errno);
  TempFile temp(fd, tempPath);

  for (const auto& part : parts) {
    if (!WriteAll(temp.fd(), part)) return Reason("cannot write", errno);
  }
  if (::fsync(temp.fd()) != 0) return Reason("cannot flush to disk", errno);
  if (temp.Close() != 0) return Reason("cannot close", errno);
  if (::rename(tempPath.c_str(), target.c_str()) != 0) return Reason("cannot replace", errno);
  temp.Keep();
  // The folder is not flushed: after a power cut the rename may be lost, which leaves the
  // previous complete file, never a partial one.
  return {};
}

}  // namespace pyranex
