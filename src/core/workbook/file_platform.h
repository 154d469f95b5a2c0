#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace pyranex {

// What the workbook area needs of the operating system's files, one implementation per
// platform. Failures give the system's own text in `why`.

// A file made new for writing: never an existing one, not inherited by child processes. The
// destructor closes it and removes it unless it was kept.
class NewFile {
 public:
  NewFile() = default;
  ~NewFile();
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  bool Create(const std::filesystem::path& path, std::string& why);
  bool Write(std::span<const uint8_t> data, std::string& why);
  // Returns when the data is on the device.
  bool Flush(std::string& why);
  bool Close(std::string& why);
  // The file stays when this object goes.
  void Keep() { path_.clear(); }

 private:
  std::filesystem::path path_;
  intptr_t handle_ = -1;
};

// Puts the file `from` in the place of `to`, which may exist, in one step; on Windows it
// returns when the move is on the device.
bool MoveFileOver(const std::filesystem::path& from, const std::filesystem::path& to,
                  std::string& why);

// This process's number, which keeps the temporary files of two programs apart.
unsigned long CurrentProcessId();

// A private copy of some bytes under a name that a library can open with fopen. Nothing done to
// the file the bytes came from reaches the copy, no other program can change it while it is
// held, and it goes when this object goes.
class PrivateFileCopy {
 public:
  PrivateFileCopy() = default;
  ~PrivateFileCopy();
  PrivateFileCopy(const PrivateFileCopy&) = delete;
  PrivateFileCopy& operator=(const PrivateFileCopy&) = delete;

  bool Create(std::span<const uint8_t> bytes, std::string& why);
  // The name in the system's narrow encoding.
  const std::string& Name() const { return name_; }

 private:
  std::string name_;
  std::filesystem::path path_;  // a file to remove afterwards (Windows)
  intptr_t handle_ = -1;
};

}  // namespace pyranex
