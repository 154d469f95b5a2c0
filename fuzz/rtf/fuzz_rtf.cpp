// Arbitrary bytes into the RTF reader: it must end, and what it gives must be sound UTF-8 with
// sizes in their ranges and no more text than the input could have made.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/rtf/rtf_reader.h"

namespace {

bool IsValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<uint8_t>(s[i]);
    size_t n = b < 0x80             ? 1
               : (b & 0xE0) == 0xC0 ? 2
               : (b & 0xF0) == 0xE0 ? 3
               : (b & 0xF8) == 0xF0 ? 4
                                    : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k) {
      if ((static_cast<uint8_t>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += n;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace pyranex::rtf;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const Document doc = ParseRtf(input);
  size_t total = 0;
  for (const auto& paragraph : doc.paragraphs) {
    for (const auto& run : paragraph.runs) {
      if (run.text.empty() || !IsValidUtf8(run.text)) std::abort();
      if (run.format.halfPoints < 1 || run.format.halfPoints > 3276) std::abort();
      total += run.text.size();
    }
  }
  // Each input byte yields at most one character of at most four bytes.
  if (total > 4 * size + 4) std::abort();
  if (doc.paragraphs.size() > size + 1) std::abort();
  return 0;
}
