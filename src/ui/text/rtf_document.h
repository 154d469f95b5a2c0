#pragma once

#include <string_view>

class QTextDocument;

namespace pyranex::ui {

// Fills the document with the formatted text of an RTF file (our own reader; Qt reads no RTF).
// Returns false, leaving the document as it was, when the text is not RTF.
bool LoadRtfIntoDocument(std::string_view rtf, QTextDocument& document);

}  // namespace pyranex::ui
