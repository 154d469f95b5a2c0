#include "ui/text/rtf_document.h"

#include <QColor>
#include <QFont>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

#include "core/rtf/rtf_reader.h"

namespace pyranex::ui {
namespace {

// A twip is 1/1440 inch; at the document's 96 pixels per inch that is 1/15 pixel.
constexpr double kTwipsPerPixel = 15.0;

QTextBlockFormat BlockFormat(const rtf::Paragraph& paragraph) {
  QTextBlockFormat format;
  switch (paragraph.align) {
    case rtf::Align::Left:
      format.setAlignment(Qt::AlignLeft);
      break;
    case rtf::Align::Center:
      format.setAlignment(Qt::AlignHCenter);
      break;
    case rtf::Align::Right:
      format.setAlignment(Qt::AlignRight);
      break;
    case rtf::Align::Justify:
      format.setAlignment(Qt::AlignJustify);
      break;
  }
  format.setLeftMargin(paragraph.leftIndentTwips / kTwipsPerPixel);
  format.setRightMargin(paragraph.rightIndentTwips / kTwipsPerPixel);
  format.setTextIndent(paragraph.firstIndentTwips / kTwipsPerPixel);
  format.setTopMargin(paragraph.spaceBeforeTwips / kTwipsPerPixel);
  format.setBottomMargin(paragraph.spaceAfterTwips / kTwipsPerPixel);
  return format;
}

QTextCharFormat CharFormat(const rtf::CharFormat& source) {
  QTextCharFormat format;
  format.setFontWeight(source.bold ? QFont::Bold : QFont::Normal);
  format.setFontItalic(source.italic);
  format.setFontUnderline(source.underline);
  format.setFontPointSize(source.halfPoints / 2.0);
  if (source.color) {
    format.setForeground(QColor(source.color->r, source.color->g, source.color->b));
  }
  if (!source.font.empty()) format.setFontFamilies({QString::fromStdString(source.font)});
  return format;
}

}  // namespace

RtfLoad LoadRtfIntoDocument(std::string_view rtf, QTextDocument& document) {
  if (!rtf::LooksLikeRtf(rtf)) return RtfLoad::kNotRtf;
  const rtf::Document parsed = rtf::ParseRtf(rtf);
  document.clear();
  QTextCursor cursor(&document);
  cursor.beginEditBlock();
  bool first = true;
  for (const rtf::Paragraph& paragraph : parsed.paragraphs) {
    if (first) {
      cursor.setBlockFormat(BlockFormat(paragraph));
      first = false;
    } else {
      cursor.insertBlock(BlockFormat(paragraph));
    }
    for (const rtf::Run& run : paragraph.runs) {
      cursor.insertText(QString::fromStdString(run.text), CharFormat(run.format));
    }
  }
  cursor.endEditBlock();
  return parsed.complete ? RtfLoad::kLoaded : RtfLoad::kCutShort;
}

}  // namespace pyranex::ui
