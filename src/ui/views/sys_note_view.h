#pragma once

#include <QImage>
#include <QWidget>

#include "core/platform/notifier.h"
#include "core/platform/paths.h"

class QLabel;
class QPushButton;
class QTextEdit;

namespace pyranex::ui {

class CMyTextBox;

// Where the frame's own picture sits: centred (may be negative when it is the larger).
QPoint FramePictureTopLeft(QSize frame, QSize picture);

// The second tab: the system picture "1.bmp" or the system text "myfile.rtf", and the CO2
// reduction the power view computes.
class CSysNoteView final : public QWidget {
  Q_OBJECT
 public:
  CSysNoteView(Notifier& notifier, Paths paths, QWidget* parent = nullptr);
  // Loads the picture "1.bmp" and the system text "myfile.rtf" (saying once when the text is
  // missing or damaged). Once; the application calls it when the window is on the screen.
  void OnInitialUpdate();

  // "CO2 reduction  <kg> Kg" in the CO2 box.
  void SetCo2Reduction(float kg);
  void ShowPicture();
  void ShowText();

  CMyTextBox& Co2Box() { return *co2_; }
  QTextEdit& TextArea();
  QWidget& PictureFrame() { return *frame_; }
  const QImage& Picture() const { return picture_; }
  bool InitDone() const { return m_initDone; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void LoadPicture(const QString& name);
  void LoadSystemText();

  Notifier& notifier_;
  Paths paths_;
  QImage picture_;             // at its natural size; null when missing
  QImage ownPicture_;          // the frame's own, loaded when first needed
  QWidget* frame_ = nullptr;   // control 1004, where the picture is drawn
  QTextEdit* text_ = nullptr;  // control 1014
  CMyTextBox* co2_ = nullptr;  // control 1011
  bool m_initDone = false;
  bool initialUpdated_ = false;
};

}  // namespace pyranex::ui
