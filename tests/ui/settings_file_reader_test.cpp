// What the window's settings store (QSettings) writes, read back by the
// command line's own INI reader, and a set-up made in the window run again
// by "vellumcast-cli index --settings".

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QLineEdit>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSettings>

#include "fixtures/image_writers.h"
#include "fixtures/tree_writer.h"
#include "support/path_util.h"
#include "support/setting_lines.h"
#include "ui/form_main.h"
#include "ui/settings_store.h"
#include "ui_test_support.h"

namespace {

TSettingLines ReadStoreFile(const TSettingsSandbox& sandbox) {
  std::string text;
  std::string error;
  EXPECT_TRUE(ReadWholeRegularFile(sandbox.StoreFile().toStdString().c_str(), kMaxSettingsFileBytes, TLinkRule::kFollow, &text, &error))
      << error;
  return ParseQtIniText(text);
}

TEST(SettingsFileReader, ReadsBackEveryTextTheStoreWrites) {
  TSettingsSandbox sandbox;
  const std::vector<QString> texts = {
      QString(),
      "plain",
      "  leading and trailing  ",
      "comma, semicolon; equals=sign",
      "a, b",
      "quote \" and backslash \\ and C:\\photos\\",
      "line\nfeed\ttab\rreturn\a\b\f\v",
      QString::fromUtf8("\x01" "a\x1f" "F control then hex digits"),
      QString("nul") + QChar(0) + "7 then a digit",
      "@at sign first",
      "@Invalid()",
      "@@",
      "#not a comment",
      ";not a comment either",
      "[not a section]",
      QString::fromUtf8("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xE6\x97\xA5\xE6\x9C\xAC"),
      "\"quoted\"",
      "ends with a backslash\\",
      "%percent%20",
      QString(300, QChar('x')),
  };
  {
    TSettingsStore store;
    store.StoreOpen("vellumcast");
    for (size_t i = 0; i < texts.size(); ++i) store.StoreSetText("text" + QString::number(i), texts[i]);
    store.StoreSetInt("number", -2147483647 - 1);
    store.StoreSetInt("zero", 0);
    store.StoreClose();
  }
  {
    QSettings settings("Korvane", "vellumcast");
    settings.setValue("invalid", QVariant());
    settings.setValue("weird key=[x]", 5);
  }
  const TSettingLines lines = ReadStoreFile(sandbox);
  ASSERT_TRUE(lines.ok) << lines.error_line << ": " << lines.error;
  std::map<std::string, std::string> read;
  for (const TSettingLine& line : lines.lines) read[line.name] = line.value;
  for (size_t i = 0; i < texts.size(); ++i) {
    const std::string name = "text" + std::to_string(i);
    ASSERT_EQ(read.count(name), 1u) << name;
    const QByteArray expected = texts[i].toUtf8();
    EXPECT_EQ(read[name], std::string(expected.constData(), static_cast<size_t>(expected.size()))) << name;
  }
  EXPECT_EQ(read["number"], "-2147483648");
  EXPECT_EQ(read["zero"], "0");
  EXPECT_EQ(read.count("invalid"), 0u);  // no value: the default stands
  EXPECT_EQ(read["weird key=[x]"], "5");
}

// The window saves its settings when it closes; the command line starts a
// run from them and makes the same catalog the window would.
TEST(SettingsFileReader, TheCommandLineRunsWhatTheWindowSaved) {
  TSettingsSandbox sandbox;
  TScratchDir tree("vc-window-cli");
  ASSERT_TRUE(WriteTestGif(tree.Join("trip/a.gif"), 30, 20));
  const QString title = "Trip \"2026\", day 1; \\ & <b>";
  {
    auto form = std::make_unique<TForm1>();
    form->findChild<QLineEdit*>("EditStartPath")->setText(QString::fromStdString(tree.path()));
    form->findChild<QLineEdit*>("EditTitle")->setText(title);
    form->findChild<QLineEdit*>("EditCellWidth")->setText("77");
  }  // closing the window saves
  QProcess cli;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("XDG_CONFIG_HOME", sandbox.Dir());
  cli.setProcessEnvironment(environment);
  cli.start(VELLUMCAST_CLI_PATH, {"index", "--settings", "--cellheight=33", "--createthumbs"});
  ASSERT_TRUE(cli.waitForFinished(60000));
  EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
  const std::string page = ReadFileBytes(tree.Join("trip/vellumcast.html"));
  EXPECT_NE(page.find("<h3>Trip \"2026\", day 1; \\ & <b></h3>"), std::string::npos) << page;  // written as typed
  EXPECT_NE(page.find("width=77 height=33"), std::string::npos) << page;
}

}  // namespace
