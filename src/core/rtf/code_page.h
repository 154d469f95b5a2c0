#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace pyranex::rtf {

// Converts bytes of a Windows code page to UTF-8, replacing what the code page does not define
// with U+FFFD. Handles for code pages other than 1252 and 65001 are opened once and kept.
class CodePageDecoder {
 public:
  CodePageDecoder();
  ~CodePageDecoder();
  CodePageDecoder(const CodePageDecoder&) = delete;
  CodePageDecoder& operator=(const CodePageDecoder&) = delete;

  std::string Decode(std::string_view bytes, int codePage);

 private:
  struct Converters;
  std::unique_ptr<Converters> converters_;
};

// The code page of an RTF font charset (\fcharsetN); 0 when the charset names none.
int CharsetCodePage(int charset);

// Appends the UTF-8 form of a code point (U+FFFD for surrogates and values beyond U+10FFFF).
void AppendUtf8(std::string& out, uint32_t codePoint);

}  // namespace pyranex::rtf
