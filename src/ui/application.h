#pragma once
// The program's application object: any exception that escapes an event
// handler is shown in an error box and the program goes on.

#include <QApplication>

class TApplication : public QApplication {
 public:
  TApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};
