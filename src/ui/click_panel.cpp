#include "ui/click_panel.h"

#include <QMouseEvent>

TClickPanel::TClickPanel(const QString& text, QWidget* parent) : QLabel(text, parent) {
  setFrameStyle(QFrame::Panel | QFrame::Raised);
  setAlignment(Qt::AlignCenter);
}

void TClickPanel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
    emit Clicked();
  }
}
