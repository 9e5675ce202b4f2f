// BackgroundPicture: the window's panel. A left-button press on it moves the whole window with
// the mouse; the move is the window system's own where it offers one.
#pragma once

#include <QLabel>
#include <QPoint>
#include <QString>

namespace brevis::gui {

class BackgroundPicture final : public QLabel {
 public:
  BackgroundPicture(const QString& resource, QWidget* parent);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  // Set while this widget moves the window itself, because the window system could not: the
  // offset of the press from the window's top-left corner, in global coordinates.
  bool dragging_ = false;
  QPoint grabOffset_;
};

}  // namespace brevis::gui
