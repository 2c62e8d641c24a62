#pragma once
// Shared look of the windows: the font, fixed client sizes and placing
// controls at given places.

#include <initializer_list>

#include <QFont>
#include <QSize>
#include <QWidget>

class QPushButton;

// A sans-serif font of Arial's metrics at a pixel size of 11.
QFont StandardFont();

// Fixed client size, the standard font, a title bar with a close box and no
// maximise box. A dialog stays above its owner; a main window does not.
void ApplyDialogStyle(QWidget* window, const QSize& client, bool is_dialog = true);

// Makes `button` the one that Enter presses, and keeps `others` from taking
// that role when they have the focus.
void MakeDefaultButton(QPushButton* button, std::initializer_list<QPushButton*> others);

// Names `widget` and puts it at (left, top); with a width and height it gets
// that size, otherwise its natural size.
template <class W>
W* Place(W* widget, const char* name, int left, int top, int width = -1, int height = -1) {
  widget->setObjectName(QString::fromLatin1(name));
  if (width >= 0 && height >= 0) {
    widget->setGeometry(left, top, width, height);
  } else {
    widget->adjustSize();
    widget->move(left, top);
  }
  return widget;
}
