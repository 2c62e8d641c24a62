// Renders the main window and the folder dialog offscreen into PNG files for
// the documentation:
//   vellumcast-screenshot OUTPUT_FOLDER [STARTING_FOLDER]
// With a starting folder, a run with thumbnails over it is made first, so
// that the Run tab shows its counters and the folder holds catalog pages to
// show. The user's own settings are never read or written.

#include <cstdio>

#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include "ui/form_browse.h"
#include "ui/form_main.h"

namespace {

constexpr int kRunTimeoutMs = 120000;

bool Save(QWidget* widget, const QString& path) {
  const bool ok = widget->grab().save(path, "PNG");
  std::fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "wrote" : "cannot write", qPrintable(path));
  return ok;
}

// Starts a run and answers its completion box; false when it does not end in time.
bool RunOnce(TForm1& form) {
  bool done = false;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      done = true;
      box->accept();
    }
  });
  answer.start(10);
  form.ButtonStart->click();
  QDeadlineTimer deadline(kRunTimeoutMs);
  while (!done && !deadline.hasExpired()) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  return done;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER [STARTING_FOLDER]\n", argv[0]);
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  if (!QDir().mkpath(out)) {
    std::fprintf(stderr, "cannot create %s\n", argv[1]);
    return 1;
  }
  QTemporaryDir settings_dir;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings_dir.path());

  TForm1 form;
  form.show();
  if (argc >= 3) {
    form.EditStartPath->setText(QDir(QString::fromLocal8Bit(argv[2])).absolutePath());
    form.CheckBoxCreateThumbs->setChecked(true);
    if (!RunOnce(form)) {
      std::fprintf(stderr, "the run did not end in time\n");
      return 1;
    }
  }
  bool ok = Save(&form, out + "/window-run.png");
  form.PageControl1->setCurrentWidget(form.TabSheetHeader);
  ok = Save(&form, out + "/window-header-footer.png") && ok;
  form.PageControl1->setCurrentWidget(form.TabSheetPublishing);
  ok = Save(&form, out + "/window-publishing.png") && ok;
  form.PageControl1->setCurrentWidget(form.TabSheetRun);

  QString chosen = form.EditStartPath->text();
  TFormBrowse browse(&form, &chosen);
  browse.show();
  ok = Save(&browse, out + "/dialog-select-directory.png") && ok;
  browse.reject();
  return ok ? 0 : 1;
}
