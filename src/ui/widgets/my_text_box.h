#pragma once

#include <QImage>
#include <QString>
#include <QWidget>
#include <string>
#include <string_view>

namespace pyranex::ui {

// Lines of text on a translucent white box over the background picture. The owner builds the
// text (lines split by '\n', caption and value by a tab) and says how many lines to draw.
class CMyTextBox final : public QWidget {
  Q_OBJECT

 public:
  explicit CMyTextBox(QWidget* parent = nullptr);

  void SetText(std::string_view text, int lineCount);
  void SetText(const QString& text, int lineCount) { SetText(text.toStdString(), lineCount); }
  // Loads "2.bmp" of the current directory; a box never given it shows a plain light fill.
  void LoadBackground();
  // The same picture when the owner has it loaded already.
  void SetBackground(const QImage& picture) { m_background = picture; }

  std::string m_text = "Text";
  int m_lineCount = 0;
  QImage m_background;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace pyranex::ui
