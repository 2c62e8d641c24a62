#include "ui/form_style.h"

#include <QPushButton>

QFont StandardFont() {
  // Arial's metrics (Liberation Sans where Arial itself is missing) fit the
  // given places; wider faces such as DejaVu Sans wrap the long labels onto
  // one line more than their boxes hold. Without either, the desktop's
  // default sans-serif face stands in.
  QFont font;
  font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  return font;
}

void ApplyDialogStyle(QWidget* window, const QSize& client, bool is_dialog) {
  window->setFont(StandardFont());
  window->setWindowFlags((is_dialog ? Qt::Dialog : Qt::Window) | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  window->setFixedSize(client);
}

void MakeDefaultButton(QPushButton* button, std::initializer_list<QPushButton*> others) {
  button->setDefault(true);
  button->setAutoDefault(true);
  for (QPushButton* other : others) other->setAutoDefault(false);
}
