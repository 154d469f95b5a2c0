#include "ui/views/sys_note_view.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QResizeEvent>
#include <QTextEdit>
#include <filesystem>
#include <fstream>

#include "support/recording_notifier.h"

namespace pyranex::ui {
namespace {

namespace fs = std::filesystem;

fs::path FreshFolder(const std::string& name) {
  const fs::path dir =
      fs::temp_directory_path() / ("quorvane-sysview-" + std::to_string(::getpid()) + "-" + name);
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

constexpr const char* kGoodRtf = R"({\rtf1\ansi Grid-tied\par system})";

TEST(SysNoteView, PictureFrameShowsItsOwnPictureOnlyWithoutTheSystemPicture) {
  const QImage own(QStringLiteral(":/ui/principle.png"));
  ASSERT_FALSE(own.isNull());
  const QColor green(10, 200, 30);
  for (const bool withPicture : {false, true}) {
    SCOPED_TRACE(withPicture ? "1.bmp there" : "1.bmp missing");
    const fs::path dir = FreshFolder(withPicture ? "picture" : "nopicture");
    WriteFile(dir / "myfile.rtf", kGoodRtf);
    if (withPicture) {
      QImage picture(50, 40, QImage::Format_RGB32);
      picture.fill(green);
      ASSERT_TRUE(picture.save(QString::fromStdString((dir / "1.bmp").string()), "BMP"));
    }
    test::RecordingNotifier notifier;
    CSysNoteView view(notifier, {dir, dir});
    view.OnInitialUpdate();
    view.resize(1000, 600);
    const QImage shown = view.PictureFrame().grab().toImage();
    const QPoint at = FramePictureTopLeft(view.PictureFrame().size(), own.size());
    ASSERT_GE(at.x(), 60);  // well inside the frame
    ASSERT_GE(at.y(), 60);
    // Every opaque pixel of the frame's own picture is on screen, or none is.
    int same = 0, opaque = 0;
    for (int y = 0; y < own.height(); y += 3) {
      for (int x = 0; x < own.width(); x += 3) {
        if (qAlpha(own.pixel(x, y)) != 255) continue;
        ++opaque;
        same += shown.pixelColor(at + QPoint(x, y)).rgb() == QColor(own.pixel(x, y)).rgb() ? 1 : 0;
      }
    }
    ASSERT_GT(opaque, 500);
    EXPECT_EQ(same, withPicture ? 0 : opaque);
    if (withPicture) {
      EXPECT_EQ(shown.pixelColor(5, 5), green);
    }
    EXPECT_EQ(notifier.Count(), 0u);  // nothing is said of a missing picture
  }
}

TEST(SysNoteView, DamagedSystemTextIsSaidOnce) {
  struct Case {
    const char* name;
    std::string bytes;
    const char* damage;  // the end of the notice; empty: none
    QString text;        // what the text area holds (start)
  };
  const std::vector<Case> cases = {
      {"sound", kGoodRtf, "", "Grid-tied\nsystem"},
      {"not rtf", std::string("PK\x03\x04\0\x01 garbage", 16), "it is not RTF text.",
       "The system text "},
      {"empty", "", "it is not RTF text.", "The system text "},
      {"cut short", R"({\rtf1\ansi{\fonttbl{\f0 Arial;}}\f0 Grid-tied\par sys)",
       "it ends too early. What could be read is shown.", "Grid-tied\nsys"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path dir = FreshFolder(c.name);
    WriteFile(dir / "myfile.rtf", c.bytes);
    test::RecordingNotifier notifier;
    CSysNoteView view(notifier, {dir, dir});
    EXPECT_EQ(notifier.Count(), 0u);  // nothing is read before the initial update
    view.OnInitialUpdate();
    view.OnInitialUpdate();
    view.resize(900, 500);
    view.ShowText();
    view.ShowPicture();
    view.resize(901, 501);
    const auto notices = notifier.Notices();
    if (*c.damage == '\0') {
      EXPECT_TRUE(notices.empty()) << notices.front().text;
    } else {
      ASSERT_EQ(notices.size(), 1u);
      const std::string expected =
          "The system text " + (dir / "myfile.rtf").string() + " is damaged: " + c.damage;
      EXPECT_EQ(notices[0].text, expected);
      EXPECT_EQ(notices[0].icon, NoticeIcon::Warning);
    }
    EXPECT_TRUE(view.TextArea().toPlainText().startsWith(c.text))
        << view.TextArea().toPlainText().toStdString();
  }
}

}  // namespace
}  // namespace pyranex::ui
