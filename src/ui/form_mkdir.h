#pragma once
// "Create Directory": asks for the name of a new folder.

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

class TFormMkdir : public QDialog {
  Q_OBJECT

 public:
  // `result` (may be null) receives the typed name when the dialog ends with Ok.
  TFormMkdir(QWidget* owner, QString* result);

  QLabel* Label1;
  QLineEdit* EditCreateDir;
  QPushButton* Button1;  // Ok
  QPushButton* Button2;  // Cancel

 private:
  void Button1Click();
  void Button2Click();
  QString* result_;
};
