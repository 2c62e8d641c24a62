// Runs the window tests offscreen with a QApplication and private settings.

#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>

namespace {

QtMessageHandler g_default_handler = nullptr;

// The offscreen platform says so for every window it shows; nothing to see.
void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.contains(QLatin1String("propagateSizeHints"))) return;
  g_default_handler(type, context, message);
}

}  // namespace

int main(int argc, char** argv) {
  g_default_handler = qInstallMessageHandler(QuietHandler);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Nothing a test does may reach the user's own configuration.
  QTemporaryDir config_home;
  qputenv("XDG_CONFIG_HOME", config_home.path().toLocal8Bit());
  QApplication app(argc, argv);
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config_home.path());
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
