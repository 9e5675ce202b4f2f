// Picture: one of the window's pictures. It takes every mouse press over it, so a picture lying
// above another keeps the clicks from reaching it; a clickable picture reports a left click.
#pragma once

#include <QLabel>
#include <QString>

namespace brevis::gui {

class Picture final : public QLabel {
  Q_OBJECT

 public:
  // Shows the image at `resource` at its own size. A clickable picture has the hand cursor and
  // emits Clicked; any other picture swallows presses without a word.
  Picture(const QString& resource, bool clickable, QWidget* parent);

 signals:
  // A left button pressed and released over the picture.
  void Clicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  bool clickable_;
  bool pressed_ = false;
};

}  // namespace brevis::gui
