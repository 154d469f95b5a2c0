#include "ui/views/sys_note_view.h"

#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTextCursor>
#include <QTextEdit>

#include "ui/common/form_units.h"
#include "ui/text/rtf_document.h"
#include "ui/widgets/my_text_box.h"

namespace pyranex::ui {
namespace {

constexpr const char* kCo2Label = "CO2 reduction";
constexpr const char* kOwnPicture = ":/ui/principle.png";

}  // namespace

CSysNoteView::CSysNoteView(Notifier& notifier, Paths paths, QWidget* parent)
    : QWidget(parent), notifier_(notifier), paths_(std::move(paths)) {
  auto* principle = new QPushButton(QStringLiteral("Principle"), this);
  principle->setGeometry(FormRect(15, 19, 43, 21));
  connect(principle, &QPushButton::clicked, this, &CSysNoteView::ShowPicture);
  auto* textInfo = new QPushButton(QStringLiteral("Text Info"), this);
  textInfo->setGeometry(FormRect(14, 55, 43, 21));
  connect(textInfo, &QPushButton::clicked, this, &CSysNoteView::ShowText);
  auto* movie = new QPushButton(QStringLiteral("Movie"), this);
  movie->setGeometry(FormRect(15, 91, 43, 21));
  movie->hide();

  frame_ = new QWidget(this);
  frame_->setObjectName(QStringLiteral("1004"));
  frame_->setGeometry(FormRect(74, 7, 266, 231));
  frame_->installEventFilter(this);

  co2_ = new CMyTextBox(this);
  co2_->setObjectName(QStringLiteral("1011"));
  co2_->setGeometry(FormRect(115, 244, 148, 32));
  auto* co2Picture = new QLabel(this);
  co2Picture->setGeometry(FormRect(81, 245, 24, 29));
  co2Picture->setPixmap(QPixmap(QStringLiteral(":/ui/co2.png")));
  co2Picture->setScaledContents(true);
}

QTextEdit& CSysNoteView::TextArea() {
  // Made when first needed: a rich text editor is costly to set up (fonts, layout) and the text
  // area starts hidden.
  if (text_ == nullptr) {
    text_ = new QTextEdit(this);
    text_->setObjectName(QStringLiteral("1014"));
    text_->setGeometry(FormRect(74, 7, 267, 230));
    text_->setReadOnly(true);
    text_->hide();
  }
  return *text_;
}

void CSysNoteView::OnInitialUpdate() {
  if (initialUpdated_) return;
  initialUpdated_ = true;
  LoadPicture(QStringLiteral("1.bmp"));
  LoadSystemText();
}

void CSysNoteView::LoadPicture(const QString& name) {
  const QString path = QString::fromStdString((paths_.currentDir / name.toStdString()).string());
  picture_ = QImage(path);  // a missing picture stays empty; nothing is said
  frame_->update();
}

void CSysNoteView::LoadSystemText() {
  const auto path = paths_.currentDir / "myfile.rtf";
  const std::string said = "The system text " + path.string();
  QFile file(QString::fromStdString(path.string()));
  if (!file.open(QIODevice::ReadOnly)) {
    notifier_.Show(said + " could not be opened: " + file.errorString().toStdString() + ".",
                   "Quorvane", NoticeIcon::Warning, NoticeButtons::Ok);
    return;
  }
  const QByteArray rtf = file.readAll();
  m_initDone = true;
  if (file.error() != QFileDevice::NoError) {
    notifier_.Show(said + " could not be read: " + file.errorString().toStdString() + ".",
                   "Quorvane", NoticeIcon::Warning, NoticeButtons::Ok);
    return;
  }
  const RtfLoad loaded = LoadRtfIntoDocument(
      std::string_view(rtf.constData(), static_cast<size_t>(rtf.size())), *TextArea().document());
  text_->moveCursor(QTextCursor::Start);  // read from the top
  if (loaded == RtfLoad::kLoaded) return;
  // Said once, here; the text area tells it too for whoever opens "Text Info" later.
  std::string damage = said + " is damaged: ";
  if (loaded == RtfLoad::kNotRtf) {
    damage += "it is not RTF text.";
    text_->setPlainText(QString::fromStdString(damage));
  } else {
    damage += "it ends too early. What could be read is shown.";
  }
  notifier_.Show(damage, "Quorvane", NoticeIcon::Warning, NoticeButtons::Ok);
}

void CSysNoteView::SetCo2Reduction(float kg) {
  char text[96];
  std::snprintf(text, sizeof text, "%s  %3.1f Kg", kCo2Label, static_cast<double>(kg));
  co2_->SetText(std::string_view(text), 1);
  co2_->update();
}

void CSysNoteView::ShowPicture() {
  LoadPicture(QStringLiteral("1.BMP"));
  if (picture_.isNull()) LoadPicture(QStringLiteral("1.bmp"));
  TextArea().hide();
  frame_->show();
  update();
}

void CSysNoteView::ShowText() {
  TextArea().show();
  frame_->hide();
}

void CSysNoteView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (m_initDone) LoadPicture(QStringLiteral("1.bmp"));
}

bool CSysNoteView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == frame_ && event->type() == QEvent::Paint) {
    QPainter painter(frame_);
    if (picture_.isNull()) {
      // Without "1.bmp" the frame shows its own picture, centred.
      if (ownPicture_.isNull()) ownPicture_ = QImage(QString::fromLatin1(kOwnPicture));
      painter.drawImage(FramePictureTopLeft(frame_->size(), ownPicture_.size()), ownPicture_);
    } else {
      // At its natural size from the frame's corner; smooth filtering as the picture would be
      // scaled with, should it ever be.
      painter.setRenderHint(QPainter::SmoothPixmapTransform);
      painter.drawImage(QPoint(0, 0), picture_);
    }
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

QPoint FramePictureTopLeft(QSize frame, QSize picture) {
  return {(frame.width() - picture.width()) / 2, (frame.height() - picture.height()) / 2};
}

}  // namespace pyranex::ui
