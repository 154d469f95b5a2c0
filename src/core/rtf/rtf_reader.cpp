#include "core/rtf/rtf_reader.h"

#include <algorithm>
#include <array>
#include <map>

#include "core/rtf/code_page.h"

namespace pyranex::rtf {
namespace {

enum class Dest { Text, Skip, FontTable, ColorTable };

struct ParaFormat {
  Align align = Align::Left;
  int left = 0, right = 0, first = 0, before = 0, after = 0;
};

// Everything a group saves and restores.
struct GroupState {
  Dest dest = Dest::Text;
  bool bold = false, italic = false, underline = false;
  int halfPoints = 24;
  int colorIndex = 0;
  int fontIndex = -1;
  int uc = 1;
  ParaFormat para;
};

struct FontEntry {
  std::string nameBytes;
  std::string name;
  bool nameDone = false;
  int codePage = 0;  // 0: the document's
};

constexpr size_t kMaxWordLength = 32;
constexpr int kDefaultHalfPoints = 24;

// Destinations whose content is not text of the document.
bool IsSkippedDestination(std::string_view word) {
  static constexpr std::string_view kSkipped[] = {"stylesheet",
                                                  "info",
                                                  "pict",
                                                  "object",
                                                  "header",
                                                  "headerl",
                                                  "headerr",
                                                  "headerf",
                                                  "footer",
                                                  "footerl",
                                                  "footerr",
                                                  "footerf",
                                                  "footnote",
                                                  "fldinst",
                                                  "listtable",
                                                  "listoverridetable",
                                                  "revtbl",
                                                  "rsidtbl",
                                                  "xmlnstbl",
                                                  "themedata",
                                                  "colorschememapping",
                                                  "latentstyles",
                                                  "datastore",
                                                  "generator",
                                                  "filetbl",
                                                  "pgdsctbl",
                                                  "shp",
                                                  "shpinst",
                                                  "nonshppict",
                                                  "falt",
                                                  "panose",
                                                  "bkmkstart",
                                                  "bkmkend",
                                                  "fontemb",
                                                  "fontfile",
                                                  "annotation",
                                                  "atnid",
                                                  "atnauthor",
                                                  "txe",
                                                  "xe",
                                                  "tc",
                                                  "private",
                                                  "userprops",
                                                  "docvar",
                                                  "template",
                                                  "ftnsep"};
  return std::find(std::begin(kSkipped), std::end(kSkipped), word) != std::end(kSkipped);
}

class Parser {
 public:
  explicit Parser(std::string_view input) : in_(input) {}

  Document Parse() {
    while (pos_ < in_.size()) {
      const char c = in_[pos_++];
      switch (c) {
        case '{':
          OpenGroup();
          break;
        case '}':
          CloseGroup();
          break;
        case '\\':
          ControlSequence();
          break;
        case '\r':
        case '\n':
          break;
        default:
          TextByte(static_cast<uint8_t>(c));
          break;
      }
    }
    FlushBytes();
    FlushSurrogate();
    if (!para_.runs.empty()) EndParagraph();
    doc_.complete = outerClosed_ && stack_.empty() && flattened_ == 0;
    return std::move(doc_);
  }

 private:
  void OpenGroup() {
    FlushBytes();
    fallback_ = 0;
    if (stack_.size() >= static_cast<size_t>(kMaxDepth)) {
      ++flattened_;
      return;
    }
    stack_.push_back(cur_);
  }

  void CloseGroup() {
    FlushBytes();
    fallback_ = 0;
    if (flattened_ > 0) {
      --flattened_;
      return;
    }
    if (stack_.empty()) return;
    cur_ = stack_.back();
    stack_.pop_back();
    outerClosed_ = outerClosed_ || stack_.empty();
  }

  // A control word or symbol after the backslash.
  void ControlSequence() {
    if (pos_ >= in_.size()) return;
    const char c = in_[pos_];
    if (IsLetter(c)) return ControlWord();
    ++pos_;
    if (c == '\'') return HexByte();
    FlushBytes();
    if (ConsumeFallback()) return;
    switch (c) {
      case '\\':
      case '{':
      case '}':
        return AddByte(static_cast<uint8_t>(c));
      case '*':
        cur_.dest = Dest::Skip;
        return;
      case '~':
        return EmitCodePoint(0x00A0);
      case '_':
        return EmitCodePoint(0x2011);
      case '\r':
      case '\n':
        return Paragraph();
      default:
        return;  // \- optional hyphen, \: index entry and the unknown
    }
  }

  static bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

  void ControlWord() {
    std::string word;
    while (pos_ < in_.size() && IsLetter(in_[pos_])) {
      if (word.size() < kMaxWordLength) word.push_back(in_[pos_]);
      ++pos_;
    }
    bool hasParam = false;
    int64_t param = 0;
    bool negative = false;
    if (pos_ + 1 < in_.size() && in_[pos_] == '-' && IsDigit(in_[pos_ + 1])) {
      negative = true;
      ++pos_;
    }
    while (pos_ < in_.size() && IsDigit(in_[pos_])) {
      hasParam = true;
      if (param < 10'000'000'000) param = param * 10 + (in_[pos_] - '0');
      ++pos_;
    }
    if (pos_ < in_.size() && in_[pos_] == ' ') ++pos_;
    param = std::clamp<int64_t>(negative ? -param : param, INT32_MIN, INT32_MAX);
    const int value = static_cast<int>(param);

    if (word == "bin") return SkipBinary(hasParam ? value : 0);
    FlushBytes();
    if (ConsumeFallback()) return;
    if (word == "u") return Unicode(value);
    Word(word, hasParam, value);
  }

  void SkipBinary(int count) {
    if (count <= 0) return;
    pos_ += std::min(static_cast<size_t>(count), in_.size() - pos_);
  }

  void HexByte() {
    int value = 0;
    int digits = 0;
    while (digits < 2 && pos_ < in_.size()) {
      const char h = in_[pos_];
      int d = -1;
      if (h >= '0' && h <= '9') d = h - '0';
      if (h >= 'a' && h <= 'f') d = h - 'a' + 10;
      if (h >= 'A' && h <= 'F') d = h - 'A' + 10;
      if (d < 0) break;
      value = value * 16 + d;
      ++digits;
      ++pos_;
    }
    if (digits == 0) return;
    if (ConsumeFallback()) return;
    AddByte(static_cast<uint8_t>(value));
  }

  // After \uN the next N characters are the fallback for readers without Unicode.
  bool ConsumeFallback() {
    if (fallback_ == 0) return false;
    --fallback_;
    return true;
  }

  void TextByte(uint8_t b) {
    if (ConsumeFallback()) return;
    AddByte(b);
  }

  // Text bytes wait for their neighbours, so a double-byte character split over \'hh and a plain
  // byte still decodes as one.
  void AddByte(uint8_t b) {
    if (cur_.dest == Dest::Skip) return;
    if (b == '\t') {
      FlushBytes();
      return EmitText("\t");
    }
    if (b < 0x20) return;
    if (cur_.dest == Dest::ColorTable) {
      if (b == ';') EndColor();
      return;
    }
    if (cur_.dest == Dest::FontTable) return FontTableByte(b);
    const int page = CurrentCodePage();
    if (!bytes_.empty() && page != bytesPage_) FlushBytes();
    bytesPage_ = page;
    bytes_.push_back(static_cast<char>(b));
  }

  void FlushBytes() {
    if (bytes_.empty()) return;
    std::string text = decoder_.Decode(bytes_, bytesPage_);
    bytes_.clear();
    EmitText(text);
  }

  int CurrentCodePage() const {
    const auto it = fonts_.find(cur_.fontIndex);
    if (it != fonts_.end() && it->second.codePage != 0) return it->second.codePage;
    return ansiCodePage_;
  }

  void Unicode(int value) {
    fallback_ = cur_.uc;
    const uint32_t u = static_cast<uint32_t>(value < 0 ? value + 65536 : value);
    if (u > 0xFFFF) return EmitCodePoint(0xFFFD);
    if (u >= 0xDC00 && u <= 0xDFFF) {
      if (highSurrogate_ == 0) return EmitCodePoint(0xFFFD);
      const uint32_t cp = 0x10000 + ((highSurrogate_ - 0xD800) << 10) + (u - 0xDC00);
      highSurrogate_ = 0;
      return EmitCodePoint(cp);
    }
    FlushSurrogate();
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (cur_.dest == Dest::Text) highSurrogate_ = u;
      return;
    }
    if (u == 0) return;
    EmitCodePoint(u);
  }

  void FlushSurrogate() {
    if (highSurrogate_ == 0) return;
    highSurrogate_ = 0;
    EmitCodePoint(0xFFFD);
  }

  void EmitCodePoint(uint32_t cp) {
    std::string text;
    AppendUtf8(text, cp);
    EmitText(text);
  }

  void EmitText(const std::string& text) {
    if (cur_.dest != Dest::Text || text.empty()) return;
    if (highSurrogate_ != 0) {
      highSurrogate_ = 0;
      EmitText("\xEF\xBF\xBD");
    }
    CharFormat format = Format();
    if (para_.runs.empty() || !(para_.runs.back().format == format)) {
      para_.runs.push_back({std::move(format), {}});
    }
    para_.runs.back().text += text;
  }

  CharFormat Format() const {
    CharFormat f;
    f.bold = cur_.bold;
    f.italic = cur_.italic;
    f.underline = cur_.underline;
    f.halfPoints = cur_.halfPoints;
    if (cur_.colorIndex >= 0 && static_cast<size_t>(cur_.colorIndex) < colors_.size()) {
      f.color = colors_[static_cast<size_t>(cur_.colorIndex)];
    }
    const int font = cur_.fontIndex >= 0 ? cur_.fontIndex : defaultFont_;
    const auto it = fonts_.find(font);
    if (it != fonts_.end()) f.font = it->second.name;
    return f;
  }

  void Paragraph() {
    if (cur_.dest != Dest::Text) return;
    FlushSurrogate();
    EndParagraph();
  }

  void EndParagraph() {
    para_.align = cur_.para.align;
    para_.leftIndentTwips = cur_.para.left;
    para_.rightIndentTwips = cur_.para.right;
    para_.firstIndentTwips = cur_.para.first;
    para_.spaceBeforeTwips = cur_.para.before;
    para_.spaceAfterTwips = cur_.para.after;
    doc_.paragraphs.push_back(std::move(para_));
    para_ = {};
  }

  void FontTableByte(uint8_t b) {
    auto it = fonts_.find(cur_.fontIndex);
    if (it == fonts_.end() || it->second.nameDone) return;
    FontEntry& font = it->second;
    if (b != ';') {
      if (font.nameBytes.size() < 256) font.nameBytes.push_back(static_cast<char>(b));
      return;
    }
    font.nameDone = true;
    font.name = decoder_.Decode(font.nameBytes, font.codePage != 0 ? font.codePage : ansiCodePage_);
    while (!font.name.empty() && font.name.back() == ' ') font.name.pop_back();
    while (!font.name.empty() && font.name.front() == ' ') font.name.erase(0, 1);
  }

  void EndColor() {
    colors_.push_back(colorSet_ ? std::optional<Rgb>(pendingColor_) : std::nullopt);
    pendingColor_ = {};
    colorSet_ = false;
  }

  static uint8_t Channel(int value) { return static_cast<uint8_t>(std::clamp(value, 0, 255)); }

  void Word(const std::string& word, bool hasParam, int value) {
    // Toggles: no parameter or a non-zero one switches on.
    const bool on = !hasParam || value != 0;
    if (cur_.dest == Dest::Skip) return;
    if (IsSkippedDestination(word)) {
      cur_.dest = Dest::Skip;
      return;
    }
    if (word == "fonttbl") {
      cur_.dest = Dest::FontTable;
      return;
    }
    if (word == "colortbl") {
      cur_.dest = Dest::ColorTable;
      return;
    }
    if (cur_.dest == Dest::ColorTable) {
      uint8_t* channel = word == "red"     ? &pendingColor_.r
                         : word == "green" ? &pendingColor_.g
                         : word == "blue"  ? &pendingColor_.b
                                           : nullptr;
      if (channel != nullptr) {
        *channel = Channel(value);
        colorSet_ = true;
      }
      return;
    }
    if (cur_.dest == Dest::FontTable) {
      if (word == "f") {
        cur_.fontIndex = value;
        fonts_.try_emplace(value);
      } else if (word == "fcharset") {
        auto it = fonts_.find(cur_.fontIndex);
        if (it != fonts_.end() && CharsetCodePage(value) != 0) {
          it->second.codePage = CharsetCodePage(value);
        }
      } else if (word == "cpg") {
        auto it = fonts_.find(cur_.fontIndex);
        if (it != fonts_.end() && value > 0) it->second.codePage = value;
      }
      return;
    }
    TextWord(word, hasParam, value, on);
  }

  void TextWord(const std::string& word, bool hasParam, int value, bool on) {
    static const std::map<std::string, uint32_t, std::less<>> kSymbols{
        {"emdash", 0x2014},  {"endash", 0x2013},    {"bullet", 0x2022},    {"lquote", 0x2018},
        {"rquote", 0x2019},  {"ldblquote", 0x201C}, {"rdblquote", 0x201D}, {"emspace", 0x2003},
        {"enspace", 0x2002}, {"qmspace", 0x2005},   {"line", 0x2028},      {"tab", '\t'},
        {"cell", '\t'},      {"zwj", 0x200D},       {"zwnj", 0x200C}};
    if (const auto it = kSymbols.find(word); it != kSymbols.end()) {
      return EmitCodePoint(it->second);
    }
    if (word == "par" || word == "row" || word == "sect" || word == "page") return Paragraph();
    if (word == "pard") {
      cur_.para = {};
    } else if (word == "plain") {
      cur_.bold = cur_.italic = cur_.underline = false;
      cur_.halfPoints = kDefaultHalfPoints;
      cur_.colorIndex = 0;
      cur_.fontIndex = -1;
    } else if (word == "b") {
      cur_.bold = on;
    } else if (word == "i") {
      cur_.italic = on;
    } else if (word == "ul" || word == "uld" || word == "uldb" || word == "ulw" ||
               word == "uldash" || word == "ulth" || word == "ulwave") {
      cur_.underline = on;
    } else if (word == "ulnone") {
      cur_.underline = false;
    } else if (word == "fs") {
      cur_.halfPoints = hasParam && value > 0 ? std::min(value, 3276) : kDefaultHalfPoints;
    } else if (word == "cf") {
      cur_.colorIndex = value;
    } else if (word == "f") {
      cur_.fontIndex = value;
    } else if (word == "deff") {
      defaultFont_ = value;
    } else if (word == "ansicpg") {
      ansiCodePage_ = value > 0 ? value : 1252;
    } else if (word == "mac") {
      ansiCodePage_ = 10000;
    } else if (word == "pc") {
      ansiCodePage_ = 437;
    } else if (word == "pca") {
      ansiCodePage_ = 850;
    } else if (word == "uc") {
      cur_.uc = std::clamp(value, 0, 255);
    } else if (word == "ql") {
      cur_.para.align = Align::Left;
    } else if (word == "qc") {
      cur_.para.align = Align::Center;
    } else if (word == "qr") {
      cur_.para.align = Align::Right;
    } else if (word == "qj") {
      cur_.para.align = Align::Justify;
    } else if (word == "li") {
      cur_.para.left = std::clamp(value, -31680, 31680);
    } else if (word == "ri") {
      cur_.para.right = std::clamp(value, -31680, 31680);
    } else if (word == "fi") {
      cur_.para.first = std::clamp(value, -31680, 31680);
    } else if (word == "sb") {
      cur_.para.before = std::clamp(value, 0, 31680);
    } else if (word == "sa") {
      cur_.para.after = std::clamp(value, 0, 31680);
    }
  }

  std::string_view in_;
  size_t pos_ = 0;
  GroupState cur_;
  std::vector<GroupState> stack_;
  int flattened_ = 0;
  bool outerClosed_ = false;
  int fallback_ = 0;
  uint32_t highSurrogate_ = 0;
  int ansiCodePage_ = 1252;
  int defaultFont_ = -1;
  std::map<int, FontEntry> fonts_;
  std::vector<std::optional<Rgb>> colors_;
  Rgb pendingColor_;
  bool colorSet_ = false;
  std::string bytes_;
  int bytesPage_ = 1252;
  CodePageDecoder decoder_;
  Document doc_;
  ::pyranex::rtf::Paragraph para_;
};

}  // namespace

Document ParseRtf(std::string_view input) {
  return Parser(input).Parse();
}

bool LooksLikeRtf(std::string_view input) {
  size_t i = 0;
  while (i < input.size() &&
         (input[i] == ' ' || input[i] == '\t' || input[i] == '\r' || input[i] == '\n')) {
    ++i;
  }
  return input.substr(i, 5) == "{\\rtf";
}

std::string PlainText(const Document& document) {
  std::string text;
  for (const auto& paragraph : document.paragraphs) {
    for (const auto& run : paragraph.runs) text += run.text;
    text += '\n';
  }
  return text;
}

}  // namespace pyranex::rtf
