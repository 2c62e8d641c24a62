#pragma once
// Helpers of the window tests: a private settings folder per test, bounded
// waits, and a watcher that answers modal dialogs from inside their own
// event loops.

#include <functional>
#include <memory>

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

class QWidget;

// Points the settings store at a fresh folder for the life of the object.
class TSettingsSandbox {
 public:
  TSettingsSandbox();
  ~TSettingsSandbox();
  QString Dir() const { return dir_.path(); }
  // The file QSettings("Korvane", "vellumcast") writes.
  QString StoreFile() const;

 private:
  QTemporaryDir dir_;
  QByteArray old_config_home_;
};

// Runs the event loop until `done` holds or `timeout_ms` passes; returns `done()`.
bool WaitUntil(const std::function<bool()>& done, int timeout_ms = 10000);
// Runs the event loop for `ms` milliseconds.
void SpinFor(int ms);

// Watches for modal widgets while it lives. Every modal widget that `match`
// accepts is handed to `act` (which must close it); any other modal widget is
// closed, so that no test hangs on a dialog it did not expect.
class TModalWatcher {
 public:
  using TMatch = std::function<bool(QWidget*)>;
  using TAct = std::function<void(QWidget*)>;
  TModalWatcher(TMatch match, TAct act);
  ~TModalWatcher();

  int Handled() const { return handled_; }
  int Unexpected() const { return unexpected_; }

 private:
  void Poll();
  TMatch match_;
  TAct act_;
  QTimer timer_;
  QWidget* last_ = nullptr;
  int handled_ = 0;
  int unexpected_ = 0;
};

// What a completion box showed.
struct TBoxSeen {
  QString text;
  QString caption;
  int buttons = 0;  // QMessageBox::StandardButtons
  int icon = -1;    // QMessageBox::Icon
};

// Accepts every "Done!" message box and records what it showed.
class TDoneBoxWatcher {
 public:
  TDoneBoxWatcher();
  int Count() const { return watcher_->Handled(); }
  const QList<TBoxSeen>& Seen() const { return seen_; }
  // Waits (bounded) until `count` boxes have been answered.
  bool WaitFor(int count = 1, int timeout_ms = 20000);

 private:
  QList<TBoxSeen> seen_;
  std::unique_ptr<TModalWatcher> watcher_;
};
