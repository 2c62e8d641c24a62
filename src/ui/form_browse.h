#pragma once
// "Select Directory": picks a folder with a volume selector and a folder list,
// or takes a typed path, and can create a new folder on the way.

#include <QDialog>
#include <QHash>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;
class TDirectoryListBox;
class TDriveComboBox;

class TFormBrowse : public QDialog {
  Q_OBJECT

 public:
  // `result` (may be null) carries the initial path in and, when the dialog
  // ends with Ok, the chosen path out.
  TFormBrowse(QWidget* owner, QString* result);

  bool IsReady() const { return ready_; }

  TDriveComboBox* DriveComboBrowse;
  TDirectoryListBox* DirListBrowse;
  QLabel* Label1;
  QLineEdit* EditBrowseName;
  QPushButton* Button1;  // Create Directory
  QPushButton* Button2;  // Ok
  QPushButton* Button3;  // Cancel

 private:
  void FormCreate();
  void DriveComboBrowseChange();
  void DirListBrowseChange();
  void Button1Click();
  void Button2Click();
  void Button3Click();

  QString* result_;
  bool ready_ = false;
};
