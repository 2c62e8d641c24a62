#include "ui/form_mkdir.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "ui/center_over_owner.h"
#include "ui/form_style.h"

TFormMkdir::TFormMkdir(QWidget* owner, QString* result) : QDialog(owner), result_(result) {
  setObjectName(QStringLiteral("FormMkdir"));
  setWindowTitle(QStringLiteral("Create Directory"));
  ApplyDialogStyle(this, QSize(321, 88));

  Label1 = Place(new QLabel(QStringLiteral("Enter the name of the directory you would like to create:"), this),
                 "Label1", 8, 8);
  EditCreateDir = Place(new QLineEdit(this), "EditCreateDir", 8, 24, 305, 21);
  Button1 = Place(new QPushButton(QStringLiteral("Ok"), this), "Button1", 160, 56, 75, 25);
  Button2 = Place(new QPushButton(QStringLiteral("Cancel"), this), "Button2", 240, 56, 75, 25);
  MakeDefaultButton(Button1, {Button2});
  connect(Button1, &QPushButton::clicked, this, &TFormMkdir::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TFormMkdir::Button2Click);

  CenterOverOwner(owner, this);
  EditCreateDir->setFocus();
}

void TFormMkdir::Button1Click() {
  if (result_ != nullptr) *result_ = EditCreateDir->text();
  accept();
}

void TFormMkdir::Button2Click() { reject(); }
