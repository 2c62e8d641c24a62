#pragma once
// A raised panel showing one centred text that reports a click on it.

#include <QLabel>

class TClickPanel : public QLabel {
  Q_OBJECT

 public:
  TClickPanel(const QString& text, QWidget* parent);

 signals:
  void Clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
};
