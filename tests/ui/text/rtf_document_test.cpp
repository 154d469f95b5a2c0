#include "ui/text/rtf_document.h"

#include <gtest/gtest.h>

#include <QTextBlock>
#include <QTextDocument>

namespace pyranex::ui {
namespace {

TEST(RtfDocument, CarriesParagraphsAndFormatsIntoTheDocument) {
  QTextDocument document;
  ASSERT_EQ(LoadRtfIntoDocument(
                R"({\rtf1\ansi{\fonttbl{\f0 Arial;}}{\colortbl;\red200\green10\blue20;})"
                R"(\qc\b\fs32 Title\par\pard\f0\i it\i0  \ul u\ulnone  \cf1 red\line next\par})",
                document),
            RtfLoad::kLoaded);
  ASSERT_EQ(document.blockCount(), 2);
  const QTextBlock title = document.firstBlock();
  EXPECT_EQ(title.text(), "Title");
  EXPECT_EQ(title.blockFormat().alignment(), Qt::AlignHCenter);
  const QTextCharFormat titleFormat = title.begin().fragment().charFormat();
  EXPECT_EQ(titleFormat.fontWeight(), QFont::Bold);
  EXPECT_EQ(titleFormat.fontPointSize(), 16.0);

  const QTextBlock body = title.next();
  EXPECT_EQ(body.text(), QString("it u red") + QChar::LineSeparator + "next");
  struct Expect {
    QString text;
    bool italic, underline;
    QColor color;
  };
  const Expect fragments[] = {
      {"it", true, false, QColor()},
      {" ", false, false, QColor()},
      {"u", false, true, QColor()},
      {" ", false, false, QColor()},
      {QString("red") + QChar::LineSeparator + "next", false, false, QColor(200, 10, 20)}};
  int i = 0;
  for (auto it = body.begin(); !it.atEnd(); ++it, ++i) {
    ASSERT_LT(i, 5);
    const QTextFragment f = it.fragment();
    EXPECT_EQ(f.text(), fragments[i].text);
    EXPECT_EQ(f.charFormat().fontItalic(), fragments[i].italic) << i;
    EXPECT_EQ(f.charFormat().fontUnderline(), fragments[i].underline) << i;
    if (fragments[i].color.isValid()) {
      EXPECT_EQ(f.charFormat().foreground().color(), fragments[i].color);
    }
    EXPECT_EQ(f.charFormat().fontFamilies().toStringList(), QStringList{"Arial"}) << i;
  }
  EXPECT_EQ(i, 5);
}

TEST(RtfDocument, LeavesTheDocumentAloneWhenTheTextIsNoRtf) {
  QTextDocument document;
  document.setPlainText("kept");
  EXPECT_EQ(LoadRtfIntoDocument("hello {\\rtf1 x}", document), RtfLoad::kNotRtf);
  EXPECT_EQ(document.toPlainText(), "kept");
}

TEST(RtfDocument, AFileCutShortShowsWhatCouldBeRead) {
  QTextDocument document;
  EXPECT_EQ(LoadRtfIntoDocument(R"({\rtf1 first\par sec)", document), RtfLoad::kCutShort);
  EXPECT_EQ(document.toPlainText(), "first\nsec");
}

}  // namespace
}  // namespace pyranex::ui
