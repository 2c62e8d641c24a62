// The desktop program: the main window and its event loop.

#include <QIcon>

#include "platform/large_blocks.h"
#include "support/product.h"
#include "ui/application.h"
#include "ui/form_main.h"

int main(int argc, char** argv) {
  ReturnLargeBlocksWhenFreed();
  TApplication app(argc, argv);
  TApplication::setApplicationVersion(QString::fromLatin1(kProductVersion));
  TApplication::setDesktopFileName(QStringLiteral("vellumcast"));
  TApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("vellumcast")));
  TForm1 form;
  form.show();
  return TApplication::exec();
}
