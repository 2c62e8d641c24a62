#include "ui_test_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QSettings>
#include <QThread>

TSettingsSandbox::TSettingsSandbox() : old_config_home_(qgetenv("XDG_CONFIG_HOME")) {
  // The store follows XDG_CONFIG_HOME; QSettings("Korvane", ...) in the tests
  // follows the path set here.
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.path()));
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir_.path());
}

TSettingsSandbox::~TSettingsSandbox() {
  if (old_config_home_.isNull()) {
    qunsetenv("XDG_CONFIG_HOME");
  } else {
    qputenv("XDG_CONFIG_HOME", old_config_home_);
  }
  // Later code in the process gets a folder nobody looks at, never the user's.
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QDir::tempPath() + "/vellumcast-ui-tests-unused");
}

QString TSettingsSandbox::StoreFile() const { return dir_.path() + "/Korvane/vellumcast.conf"; }

bool WaitUntil(const std::function<bool()>& done, int timeout_ms) {
  QDeadlineTimer deadline(timeout_ms);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
  return true;
}

void SpinFor(int ms) {
  QDeadlineTimer deadline(ms);
  while (!deadline.hasExpired()) {
    QApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
}

TModalWatcher::TModalWatcher(TMatch match, TAct act) : match_(std::move(match)), act_(std::move(act)) {
  QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
  timer_.start(5);
}

TModalWatcher::~TModalWatcher() { timer_.stop(); }

void TModalWatcher::Poll() {
  QWidget* modal = QApplication::activeModalWidget();
  if (modal == nullptr || !modal->isVisible() || modal == last_) return;
  last_ = modal;
  if (match_(modal)) {
    ++handled_;
    act_(modal);
  } else {
    ++unexpected_;
    if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
    else modal->close();
  }
  // A widget closed now may be destroyed later; forget it once it is gone.
  QTimer::singleShot(0, &timer_, [this] { last_ = nullptr; });
}

TDoneBoxWatcher::TDoneBoxWatcher() {
  watcher_ = std::make_unique<TModalWatcher>(
      [](QWidget* w) { return w->objectName() == "MessageBoxDone" && qobject_cast<QMessageBox*>(w); },
      [this](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        seen_.append({box->text(), box->windowTitle(), static_cast<int>(box->standardButtons()),
                      static_cast<int>(box->icon())});
        if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
          ok->click();
        } else {
          box->accept();
        }
      });
}

bool TDoneBoxWatcher::WaitFor(int count, int timeout_ms) {
  return WaitUntil([&] { return Count() >= count; }, timeout_ms);
}
