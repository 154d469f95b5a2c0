#include "core/rtf/rtf_reader.h"

#include <gtest/gtest.h>

#include <string>

namespace pyranex::rtf {
namespace {

TEST(RtfReader, TextOfSmallInputs) {
  const struct {
    const char* name;
    std::string rtf;
    std::string text;
  } cases[] = {
      {"paragraphs", R"({\rtf1\ansi Hello\par World})", "Hello\nWorld\n"},
      {"empty paragraph kept", R"({\rtf1 a\par\par b\par})", "a\n\nb\n"},
      {"escaped symbols", R"({\rtf1 a\\b\{c\}\~d})", "a\\b{c}\u00A0d\n"},
      {"line breaks in the source are no text", "{\\rtf1 one\r\ntwo}", "onetwo\n"},
      {"backslash newline is a paragraph", "{\\rtf1 one\\\ntwo}", "one\ntwo\n"},
      {"tab and line", R"({\rtf1 a\tab b\line c})", "a\tb\u2028c\n"},
      {"named symbols", R"({\rtf1 \lquote x\rquote\emdash\bullet})", "\u2018x\u2019\u2014\u2022\n"},
      {"code page 1252", R"({\rtf1\ansi\ansicpg1252 caf\'e9 \'80 \'81})",
       "caf\u00e9 \u20ac \uFFFD\n"},
      {"code page 936", R"({\rtf1\ansi\ansicpg936 \'c4\'e3\'ba\'c3})", "\u4f60\u597d\n"},
      {"font charset decides",
       R"({\rtf1\ansi{\fonttbl{\f0 Arial;}{\f1\fcharset134 SimSun;}}\f1 \'c4\'e3\f0 \'e9})",
       "\u4f60\u00e9\n"},
      {"unicode with its fallback", R"({\rtf1 \u8364?x\u8364\'80y})", "\u20acx\u20acy\n"},
      {"uc2 skips two", R"({\rtf1\uc2\u8364 abc})", "\u20acc\n"},
      {"uc is group scoped", R"({\rtf1{\uc0\u8364}\u8364?})", "\u20ac\u20ac\n"},
      {"negative unicode", R"({\rtf1 \u-3937?})", "\uf09f\n"},
      {"surrogate pair", R"({\rtf1 \u-10179?\u-8704?})", "\U0001F600\n"},
      {"lone surrogate", R"({\rtf1 \u-10179?x})", "\uFFFDx\n"},
      {"skipped destinations",
       R"({\rtf1{\*\generator Foo;}{\info{\title T}}{\stylesheet{\s0 Normal;}}{\*\unknown secret}A})",
       "A\n"},
      {"picture with hex and binary data", R"({\rtf1{\pict\pngblip 8950}{\pict\bin3 {{{}C})",
       "C\n"},
      {"field result shown, instruction not",
       R"({\rtf1{\field{\*\fldinst HYPERLINK "x"}{\fldrslt link}}})", "link\n"},
      {"unknown words ignored", R"({\rtf1\foo12\barbaz-5 text})", "text\n"},
      {"cut off after backslash", "{\\rtf1 a\\", "a\n"},
      {"cut off hex", R"({\rtf1 a\'4)", "a\n"},
      {"too many closings", R"(}}}{\rtf1 x}}})", "x\n"},
      {"not rtf at all", "plain text", "plain text\n"},
      {"control bytes dropped",
       std::string("{\\rtf1 a\x01\x1f"
                   "b\\'07c}"),
       "abc\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PlainText(ParseRtf(c.rtf)), c.text) << c.name;
  }
}

TEST(RtfReader, DeepNestingIsFlattenedNotFollowed) {
  std::string rtf = "{\\rtf1 ";
  rtf += std::string(100000, '{') + "\\b x";
  const Document doc = ParseRtf(rtf);
  EXPECT_EQ(PlainText(doc), "x\n");
  // Beyond the bound, groups no longer save state: closing them cannot undo too much.
  const Document closed = ParseRtf(rtf + std::string(100000, '}') + "y");
  EXPECT_EQ(PlainText(closed), "xy\n");
}

TEST(RtfReader, CharacterAndParagraphFormats) {
  const std::string rtf =
      R"({\rtf1\ansi\deff0{\fonttbl{\f0\fswiss Arial;}{\f1\froman Times New Roman;}})"
      R"({\colortbl;\red255\green0\blue0;\red0\green128\blue255;})"
      R"(\pard\qc\b Title\b0\par)"
      R"(\pard\li720\fi-360\sb60\sa120 plain {\i it} {\ul u}\ulnone  \cf1 red\cf2\fs36 blue\plain\f1 times\par})";
  const Document doc = ParseRtf(rtf);
  ASSERT_EQ(doc.paragraphs.size(), 2u);
  EXPECT_EQ(doc.paragraphs[0].align, Align::Center);
  EXPECT_EQ(doc.paragraphs[1].align, Align::Left);
  EXPECT_EQ(doc.paragraphs[1].leftIndentTwips, 720);
  EXPECT_EQ(doc.paragraphs[1].firstIndentTwips, -360);
  EXPECT_EQ(doc.paragraphs[1].spaceBeforeTwips, 60);
  EXPECT_EQ(doc.paragraphs[1].spaceAfterTwips, 120);

  const Rgb red{255, 0, 0}, blue{0, 128, 255};
  const struct {
    size_t paragraph;
    const char* text;
    bool bold, italic, underline;
    int halfPoints;
    std::optional<Rgb> color;
    const char* font;
  } runs[] = {
      {0, "Title", true, false, false, 24, std::nullopt, "Arial"},
      {1, "plain ", false, false, false, 24, std::nullopt, "Arial"},
      {1, "it", false, true, false, 24, std::nullopt, "Arial"},
      {1, " ", false, false, false, 24, std::nullopt, "Arial"},
      {1, "u", false, false, true, 24, std::nullopt, "Arial"},
      {1, " ", false, false, false, 24, std::nullopt, "Arial"},
      {1, "red", false, false, false, 24, red, "Arial"},
      {1, "blue", false, false, false, 36, blue, "Arial"},
      {1, "times", false, false, false, 24, std::nullopt, "Times New Roman"},
  };
  size_t index[2] = {0, 0};
  for (const auto& r : runs) {
    const auto& list = doc.paragraphs[r.paragraph].runs;
    ASSERT_LT(index[r.paragraph], list.size()) << r.text;
    const rtf::Run& run = list[index[r.paragraph]++];
    EXPECT_EQ(run.text, r.text);
    EXPECT_EQ(run.format.bold, r.bold) << r.text;
    EXPECT_EQ(run.format.italic, r.italic) << r.text;
    EXPECT_EQ(run.format.underline, r.underline) << r.text;
    EXPECT_EQ(run.format.halfPoints, r.halfPoints) << r.text;
    EXPECT_EQ(run.format.color, r.color) << r.text;
    EXPECT_EQ(run.format.font, r.font) << r.text;
  }
  EXPECT_EQ(index[1], doc.paragraphs[1].runs.size());
}

TEST(RtfReader, TellsAFileCutShort) {
  const struct {
    const char* rtf;
    bool complete;
  } cases[] = {
      {R"({\rtf1 a\par b})", true},
      {"{\\rtf1 a}\r\n", true},
      {R"(}}{\rtf1 x}}})", true},  // stray closings change nothing
      {R"({\rtf1{\fonttbl{\f0 Arial;}}\f0 a\par b)", false},
      {R"({\rtf1{\fonttbl{\f0 Arial;})", false},
      {R"({\rtf1 a}{)", false},
      {"{\\rtf1 a\\", false},
      {"", false},
      {"plain text", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseRtf(c.rtf).complete, c.complete) << c.rtf;
  }
  std::string deep = "{\\rtf1 " + std::string(300, '{') + "x";
  EXPECT_FALSE(ParseRtf(deep).complete);
  EXPECT_TRUE(ParseRtf(deep + std::string(301, '}')).complete);
}

TEST(RtfReader, RecognisesRtf) {
  EXPECT_TRUE(LooksLikeRtf(" \r\n{\\rtf1 x}"));
  EXPECT_FALSE(LooksLikeRtf("{\\rt"));
  EXPECT_FALSE(LooksLikeRtf("hello"));
}

}  // namespace
}  // namespace pyranex::rtf
