// BackgroundPicture: the panel picture that drags the window.
#include "app/background_picture.h"

#include <QMouseEvent>
#include <QPixmap>
#include <QWindow>

namespace brevis::gui {

BackgroundPicture::BackgroundPicture(const QString& resource, QWidget* parent) : QLabel(parent) {
  const QPixmap image(resource);
  setPixmap(image);
  setFixedSize(image.size());
}

void BackgroundPicture::mousePressEvent(QMouseEvent* event) {
  event->accept();
  if (event->button() != Qt::LeftButton) return;
  QWindow* handle = window()->windowHandle();
  // The window system's move follows the mouse until the button is let go. Without a window
  // manager (or on a platform without the request) the widget follows the mouse itself.
  if (handle != nullptr && handle->startSystemMove()) return;
  dragging_ = true;
  grabOffset_ = event->globalPosition().toPoint() - window()->frameGeometry().topLeft();
}

void BackgroundPicture::mouseMoveEvent(QMouseEvent* event) {
  event->accept();
  // Movement alone never moves the window: only with the left button still down.
  if (!dragging_ || !(event->buttons() & Qt::LeftButton)) {
    dragging_ = false;
    return;
  }
  window()->move(event->globalPosition().toPoint() - grabOffset_);
}

void BackgroundPicture::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();
  if (event->button() == Qt::LeftButton) dragging_ = false;
}

}  // namespace brevis::gui
