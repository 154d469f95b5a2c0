#include "ui/widgets/black_wnd.h"

#include "ui/widgets/background_picture.h"

namespace pyranex::ui {

CBlackWnd::CBlackWnd(QWidget* parent, const QImage* background)
    : QWidget(parent), m_background(background != nullptr ? *background : LoadBackgroundPicture()) {
  // Every pixel is painted by the widget itself: no system erase underneath.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

}  // namespace pyranex::ui
