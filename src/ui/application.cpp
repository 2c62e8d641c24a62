#include "ui/application.h"

#include <exception>

#include <QMessageBox>

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    QMessageBox::critical(activeWindow(), QStringLiteral("Vellumcast!"), QString::fromLocal8Bit(error.what()));
  } catch (...) {
    QMessageBox::critical(activeWindow(), QStringLiteral("Vellumcast!"), QStringLiteral("Unexpected error."));
  }
  return false;
}
