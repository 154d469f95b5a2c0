#include <windows.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "core/workbook/file_platform.h"

namespace pyranex {
namespace {

// The system's text for GetLastError(), without its closing line break.
bool Fail(std::string& why) {
  const DWORD error = ::GetLastError();
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&text),
      0, nullptr);
  why.clear();
  if (length > 0 && text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                           nullptr, nullptr);
    if (size > 0) {
      why.resize(static_cast<size_t>(size));
      ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), why.data(), size, nullptr,
                            nullptr);
    }
  }
  if (text) ::LocalFree(text);
  while (!why.empty() && (why.back() == '\n' || why.back() == '\r' || why.back() == ' ')) {
    why.pop_back();
  }
  if (why.empty()) why = "error " + std::to_string(error);
  return false;
}

// Absolute names at or beyond MAX_PATH reach the file system only in the "\\?\" form, which
// takes the name as it is: so it gets backslashes and no "." or ".." parts first.
std::wstring NativeName(const std::filesystem::path& path) {
  const std::wstring& name = path.native();
  if (name.size() < MAX_PATH - 12 || !path.is_absolute() || name.starts_with(L"\\\\?\\")) {
    return name;
  }
  std::wstring full = path.lexically_normal().make_preferred().native();
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

bool WriteAll(HANDLE handle, std::span<const uint8_t> data, std::string& why) {
  while (!data.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size(), DWORD{1} << 30));
    DWORD written = 0;
    if (!::WriteFile(handle, data.data(), chunk, &written, nullptr)) return Fail(why);
    data = data.subspan(written);
  }
  return true;
}

HANDLE AsHandle(intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

NewFile::~NewFile() {
  if (handle_ != -1) ::CloseHandle(AsHandle(handle_));
  if (!path_.empty()) ::DeleteFileW(NativeName(path_).c_str());
}

bool NewFile::Create(const std::filesystem::path& path, std::string& why) {
  // No sharing: nobody reads a half-written file or writes into it.
  const HANDLE handle = ::CreateFileW(NativeName(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return Fail(why);
  handle_ = reinterpret_cast<intptr_t>(handle);
  path_ = path;
  return true;
}

bool NewFile::Write(std::span<const uint8_t> data, std::string& why) {
  return WriteAll(AsHandle(handle_), data, why);
}

bool NewFile::Flush(std::string& why) {
  return ::FlushFileBuffers(AsHandle(handle_)) || Fail(why);
}

bool NewFile::Close(std::string& why) {
  const BOOL closed = ::CloseHandle(AsHandle(handle_));
  handle_ = -1;
  return closed || Fail(why);
}

bool MoveFileOver(const std::filesystem::path& from, const std::filesystem::path& to,
                  std::string& why) {
  return ::MoveFileExW(NativeName(from).c_str(), NativeName(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ||
         Fail(why);
}

unsigned long CurrentProcessId() {
  return ::GetCurrentProcessId();
}

PrivateFileCopy::~PrivateFileCopy() {
  if (handle_ != -1) ::CloseHandle(AsHandle(handle_));
  if (!path_.empty()) ::DeleteFileW(path_.c_str());
}

bool PrivateFileCopy::Create(std::span<const uint8_t> bytes, std::string& why) {
  std::vector<wchar_t> folder(MAX_PATH + 1);
  DWORD n = ::GetTempPathW(static_cast<DWORD>(folder.size()), folder.data());
  if (n == 0) return Fail(why);
  if (n >= folder.size()) {
    why = "the temporary folder's name is too long";
    return false;
  }
  // The short form of the folder's name is plain ASCII on most systems, which the narrow name
  // below needs; where there is none the long one serves.
  std::vector<wchar_t> shortFolder(MAX_PATH + 1);
  const DWORD s = ::GetShortPathNameW(folder.data(), shortFolder.data(),
                                      static_cast<DWORD>(shortFolder.size()));
  const std::wstring base(s > 0 && s < shortFolder.size() ? shortFolder.data() : folder.data());

  static std::atomic<unsigned> counter{0};
  HANDLE handle = INVALID_HANDLE_VALUE;
  std::wstring name;
  for (int attempt = 0; handle == INVALID_HANDLE_VALUE; ++attempt) {
    name = base + L"pyranex-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
           std::to_wstring(counter.fetch_add(1)) + L".xls";
    // Others may read it (the library opens it again by name), nobody may change or remove it.
    handle = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (handle == INVALID_HANDLE_VALUE &&
        (::GetLastError() != ERROR_FILE_EXISTS || attempt >= 100)) {
      return Fail(why);
    }
  }
  handle_ = reinterpret_cast<intptr_t>(handle);
  path_ = name;
  if (!WriteAll(handle, bytes, why)) return false;

  // The library opens names in the system's code page; one that cannot say this name fails.
  const bool utf8 = ::GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL lossy = FALSE;
  const int size = ::WideCharToMultiByte(CP_ACP, flags, name.c_str(), -1, nullptr, 0, nullptr,
                                         utf8 ? nullptr : &lossy);
  if (size <= 1 || lossy) {
    why = "the temporary folder's name has characters outside the system's code page";
    return false;
  }
  name_.resize(static_cast<size_t>(size));
  ::WideCharToMultiByte(CP_ACP, flags, name.c_str(), -1, name_.data(), size, nullptr, nullptr);
  name_.pop_back();  // the terminating zero
  return true;
}

}  // namespace pyranex
