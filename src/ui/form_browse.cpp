#include "ui/form_browse.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "support/path_util.h"
#include "ui/center_over_owner.h"
#include "ui/directory_list.h"
#include "ui/drive_combo.h"
#include "ui/form_mkdir.h"
#include "ui/form_style.h"
#include "ui/path_text.h"

namespace {

// The folder last shown on each volume in this process, by volume root: what
// choosing that volume again brings back.
QHash<QString, QString>& LastFolderByVolume() {
  static QHash<QString, QString> last;
  return last;
}

}  // namespace

TFormBrowse::TFormBrowse(QWidget* owner, QString* result) : QDialog(owner), result_(result) {
  setObjectName(QStringLiteral("FormBrowse"));
  setWindowTitle(QStringLiteral("Select Directory"));
  ApplyDialogStyle(this, QSize(363, 210));

  DriveComboBrowse = Place(new TDriveComboBox(this), "DriveComboBrowse", 8, 8, 345, 19);
  DirListBrowse = Place(new TDirectoryListBox(this), "DirListBrowse", 8, 32, 345, 97);
  Label1 = Place(new QLabel(QStringLiteral("Directory:"), this), "Label1", 8, 152);
  EditBrowseName = Place(new QLineEdit(this), "EditBrowseName", 64, 144, 289, 21);
  Button1 = Place(new QPushButton(QStringLiteral("Create Directory"), this), "Button1", 8, 176, 105, 25);
  Button2 = Place(new QPushButton(QStringLiteral("Ok"), this), "Button2", 128, 176, 105, 25);
  Button3 = Place(new QPushButton(QStringLiteral("Cancel"), this), "Button3", 248, 176, 105, 25);
  MakeDefaultButton(Button2, {Button1, Button3});

  connect(DriveComboBrowse, &TDriveComboBox::Changed, this, &TFormBrowse::DriveComboBrowseChange);
  connect(DirListBrowse, &TDirectoryListBox::Changed, this, &TFormBrowse::DirListBrowseChange);
  connect(Button1, &QPushButton::clicked, this, &TFormBrowse::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TFormBrowse::Button2Click);
  connect(Button3, &QPushButton::clicked, this, &TFormBrowse::Button3Click);

  CenterOverOwner(owner, this);
  FormCreate();
}

void TFormBrowse::FormCreate() {
  // A path that exists down to its last level opens the list there; anything
  // else leaves it on the process's current folder.
  if (result_ != nullptr && !result_->isEmpty() &&
      CheckDirPath(QFile::encodeName(*result_).constData(), /*create=*/0) == 1) {
    DirListBrowse->SetDirectory(*result_);
  }
  // Not ready yet: this drive change must not move the list away from the path above.
  DriveComboBrowse->SetDrive(DirListBrowse->Drive());
  EditBrowseName->setText(DirListBrowse->Directory());
  LastFolderByVolume().insert(DirListBrowse->Drive(), DirListBrowse->Directory());
  ready_ = true;
}

void TFormBrowse::DriveComboBrowseChange() {
  if (!ready_) return;
  const QString drive = DriveComboBrowse->Drive();
  const QString last = LastFolderByVolume().value(drive);
  DirListBrowse->SetDirectory(!last.isEmpty() && QFileInfo(last).isDir() ? last : drive);
}

void TFormBrowse::DirListBrowseChange() {
  const QString folder = DirListBrowse->Directory();
  EditBrowseName->setText(folder);
  LastFolderByVolume().insert(DirListBrowse->Drive(), folder);
}

void TFormBrowse::Button1Click() {
  QString name;
  TFormMkdir mkdir_dialog(this, &name);
  if (mkdir_dialog.exec() != QDialog::Accepted) return;

  // Built from the edit box, which may hold a typed path, not from the list.
  const QString path = WithTrailingSeparator(EditBrowseName->text()) + name;
  // One level only; a failure (empty name, missing parent, existing folder)
  // shows itself by the list having no such folder.
  QDir().mkdir(path);
  DirListBrowse->SetDirectory(path);
}

void TFormBrowse::Button2Click() {
  if (result_ != nullptr) *result_ = EditBrowseName->text();
  accept();
}

void TFormBrowse::Button3Click() { reject(); }
