// Picture: a still image that takes the mouse and, when clickable, reports clicks.
#include "app/picture.h"

#include <QMouseEvent>
#include <QPixmap>

namespace brevis::gui {

Picture::Picture(const QString& resource, bool clickable, QWidget* parent)
    : QLabel(parent), clickable_(clickable) {
  const QPixmap image(resource);
  setPixmap(image);
  setFixedSize(image.size());
  if (clickable_) setCursor(Qt::PointingHandCursor);
}

void Picture::mousePressEvent(QMouseEvent* event) {
  // Accepted even when not clickable: a cover must keep the press from the window below it.
  pressed_ = clickable_ && event->button() == Qt::LeftButton;
  event->accept();
}

void Picture::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();
  if (!pressed_ || event->button() != Qt::LeftButton) return;
  pressed_ = false;
  if (rect().contains(event->position().toPoint())) emit Clicked();
}

void Picture::mouseMoveEvent(QMouseEvent* event) { event->accept(); }

void Picture::mouseDoubleClickEvent(QMouseEvent* event) {
  // A double click counts as one more press, so two quick clicks are two clicks.
  mousePressEvent(event);
}

}  // namespace brevis::gui
