#include "core/rtf/code_page.h"

#include <array>
#include <cstdint>
#include <map>

#if __has_include(<iconv.h>)
#include <iconv.h>

#include <cerrno>
#define PYRANEX_HAVE_ICONV 1
#endif

namespace pyranex::rtf {
namespace {

constexpr uint32_t kReplacement = 0xFFFD;

// 0x80..0x9F of code page 1252; 0 where it defines nothing. The rest is Latin-1.
constexpr std::array<uint16_t, 32> kCp1252High{
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::string DecodeCp1252(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const auto b = static_cast<uint8_t>(c);
    if (b < 0x80) {
      out.push_back(c);
    } else if (b < 0xA0) {
      const uint16_t u = kCp1252High[b - 0x80];
      AppendUtf8(out, u != 0 ? u : kReplacement);
    } else {
      AppendUtf8(out, b);
    }
  }
  return out;
}

// Valid UTF-8 passes, anything else becomes U+FFFD byte by byte.
std::string DecodeUtf8(std::string_view bytes) {
  std::string out;
  size_t i = 0;
  while (i < bytes.size()) {
    const auto b = static_cast<uint8_t>(bytes[i]);
    size_t length = 0;
    uint32_t cp = 0;
    if (b < 0x80) {
      length = 1;
      cp = b;
    } else if ((b & 0xE0) == 0xC0) {
      length = 2;
      cp = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
      length = 3;
      cp = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
      length = 4;
      cp = b & 0x07;
    }
    bool ok = length != 0 && i + length <= bytes.size();
    for (size_t k = 1; ok && k < length; ++k) {
      const auto t = static_cast<uint8_t>(bytes[i + k]);
      ok = (t & 0xC0) == 0x80;
      cp = (cp << 6) | (t & 0x3F);
    }
    constexpr std::array<uint32_t, 5> kMin{0, 0, 0x80, 0x800, 0x10000};
    if (ok && cp >= kMin[length] && !(cp >= 0xD800 && cp <= 0xDFFF) && cp <= 0x10FFFF) {
      out.append(bytes.substr(i, length));
      i += length;
    } else {
      AppendUtf8(out, kReplacement);
      ++i;
    }
  }
  return out;
}

}  // namespace

#ifdef PYRANEX_HAVE_ICONV
struct CodePageDecoder::Converters {
  std::map<int, iconv_t> handles;  // (iconv_t)-1 where the code page is unknown
  ~Converters() {
    for (auto& [page, handle] : handles) {
      if (handle != reinterpret_cast<iconv_t>(-1)) iconv_close(handle);
    }
  }
  iconv_t Get(int codePage) {
    auto it = handles.find(codePage);
    if (it == handles.end()) {
      const std::string name = "CP" + std::to_string(codePage);
      it = handles.emplace(codePage, iconv_open("UTF-8", name.c_str())).first;
    }
    return it->second;
  }
};
#else
struct CodePageDecoder::Converters {};
#endif

CodePageDecoder::CodePageDecoder() : converters_(std::make_unique<Converters>()) {}
CodePageDecoder::~CodePageDecoder() = default;

std::string CodePageDecoder::Decode(std::string_view bytes, int codePage) {
  bool ascii = true;
  for (const char c : bytes) ascii = ascii && static_cast<uint8_t>(c) < 0x80;
  if (ascii) return std::string(bytes);
  if (codePage == 65001) return DecodeUtf8(bytes);
  if (codePage == 1252 || codePage <= 0) return DecodeCp1252(bytes);
#ifdef PYRANEX_HAVE_ICONV
  iconv_t handle = converters_->Get(codePage);
  if (handle == reinterpret_cast<iconv_t>(-1)) return DecodeCp1252(bytes);
  iconv(handle, nullptr, nullptr, nullptr, nullptr);
  std::string out;
  std::string input(bytes);
  char* in = input.data();
  size_t inLeft = input.size();
  std::array<char, 256> buffer{};
  while (inLeft > 0) {
    char* outPtr = buffer.data();
    size_t outLeft = buffer.size();
    const size_t r = iconv(handle, &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer.data(), buffer.size() - outLeft);
    if (r != static_cast<size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    // An invalid or cut-off sequence: one replacement, then on with the next byte.
    AppendUtf8(out, kReplacement);
    ++in;
    --inLeft;
    iconv(handle, nullptr, nullptr, nullptr, nullptr);
  }
  return DecodeUtf8(out);
#else
  return DecodeCp1252(bytes);
#endif
}

int CharsetCodePage(int charset) {
  switch (charset) {
    case 0:
      return 1252;
    case 77:
      return 10000;
    case 128:
      return 932;
    case 129:
      return 949;
    case 130:
      return 1361;
    case 134:
      return 936;
    case 136:
      return 950;
    case 161:
      return 1253;
    case 162:
      return 1254;
    case 163:
      return 1258;
    case 177:
      return 1255;
    case 178:
      return 1256;
    case 186:
      return 1257;
    case 204:
      return 1251;
    case 222:
      return 874;
    case 238:
      return 1250;
    case 255:
      return 437;
    default:
      return 0;
  }
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = kReplacement;
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace pyranex::rtf
