#pragma once

#include <string_view>

class QTextDocument;

namespace pyranex::ui {

enum class RtfLoad {
  kLoaded,
  kNotRtf,    // the document is left as it was
  kCutShort,  // the file ends inside a group: the document holds what could be read
};

// Fills the document with the formatted text of an RTF file (our own reader; Qt reads no RTF).
RtfLoad LoadRtfIntoDocument(std::string_view rtf, QTextDocument& document);

}  // namespace pyranex::ui
