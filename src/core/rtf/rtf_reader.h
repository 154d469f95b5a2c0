#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pyranex::rtf {

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

struct CharFormat {
  bool bold = false;
  bool italic = false;
  bool underline = false;
  int halfPoints = 24;       // \fs, 1..3276
  std::optional<Rgb> color;  // none: the text's default colour
  std::string font;          // family from the font table, empty when none
  friend bool operator==(const CharFormat&, const CharFormat&) = default;
};

enum class Align { Left, Center, Right, Justify };

struct Run {
  CharFormat format;
  std::string text;  // UTF-8; a line break inside the paragraph is U+2028, a tab '\t'
};

struct Paragraph {
  Align align = Align::Left;
  int leftIndentTwips = 0;
  int rightIndentTwips = 0;
  int firstIndentTwips = 0;
  int spaceBeforeTwips = 0;
  int spaceAfterTwips = 0;
  std::vector<Run> runs;
};

struct Document {
  std::vector<Paragraph> paragraphs;
  // Every group opened was closed again: false for a file cut short (a copy broken off, a
  // damaged disk), whose text is only what could be read before the end.
  bool complete = false;
};

// Reads the parts of RTF that a formatted description needs: groups, control words and symbols,
// \'hh bytes in the document's or the font's code page, \uN with its \ucN fallback, the font and
// colour tables, bold, italic, underline, size, colour, alignment, indents and paragraphs.
// Unknown destinations, \* destinations, pictures, objects, headers and footers are skipped.
// Any input gives a result: nesting beyond kMaxDepth is flattened, bad bytes become U+FFFD.
//
// \'hh bytes: code page 1252 (and ASCII) always; other code pages (936, 950, 932, 1250, ...)
// through the C library's iconv where it exists, else as 1252.
Document ParseRtf(std::string_view input);

// True when the input begins (after blanks) with "{\rtf".
bool LooksLikeRtf(std::string_view input);

// The text of all paragraphs, each ended by '\n'.
std::string PlainText(const Document& document);

inline constexpr int kMaxDepth = 200;

}  // namespace pyranex::rtf
