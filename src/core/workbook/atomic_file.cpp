#include "core/workbook/atomic_file.h"

#include <algorithm>
#include <atomic>

#include "core/workbook/file_platform.h"

namespace pyranex {
namespace {

// Longest file name the usual file systems take (bytes on POSIX, UTF-16 units on Windows).
constexpr size_t kNameMax = 255;

std::string Reason(const char* what, const std::string& why) {
  return std::string(what) + ": " + why;
}

// The target's name with a suffix that no other save uses, shortened where needed so that a
// target name that is itself near the file system's limit still gets a temporary file beside it.
std::filesystem::path TemporaryName(const std::filesystem::path& target) {
  static std::atomic<unsigned> counter{0};
  using String = std::filesystem::path::string_type;
  // (Built by append: g++ 12 -O3 misreads the same with operator+, GCC bug 105329.)
  std::string suffix(".");
  suffix.append(std::to_string(CurrentProcessId())).append(".");
  suffix.append(std::to_string(counter.fetch_add(1))).append(".tmp");
  String name = String(1, '.') + target.filename().native();
  name.resize(std::min(name.size(), kNameMax - suffix.size()));
#ifdef _WIN32
  // A cut between the two halves of a UTF-16 surrogate pair would leave half a character.
  if (!name.empty() && name.back() >= 0xD800 && name.back() <= 0xDBFF) name.pop_back();
#endif
  name.append(suffix.begin(), suffix.end());
  return name;
}

}  // namespace

std::string WriteFileAtomically(const std::filesystem::path& target,
                                std::initializer_list<std::span<const uint8_t>> parts) {
  const std::filesystem::path folder =
      target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
  const std::filesystem::path tempPath = folder / TemporaryName(target);
  std::string why;
  NewFile temp;
  if (!temp.Create(tempPath, why)) return Reason("cannot create a file in the folder", why);
  for (const auto& part : parts) {
    if (!temp.Write(part, why)) return Reason("cannot write", why);
  }
  if (!temp.Flush(why)) return Reason("cannot flush to disk", why);
  if (!temp.Close(why)) return Reason("cannot close", why);
  if (!MoveFileOver(tempPath, target, why)) return Reason("cannot replace", why);
  temp.Keep();
  return {};
}

}  // namespace pyranex
