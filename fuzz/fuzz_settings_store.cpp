// libFuzzer target: a hand-edited settings file. The input is the store's
// file; every setting of the window is read from it the way the window loads
// them, written back the way the window saves them, and must then read back
// unchanged.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include <QByteArray>
#include <QString>

#include "ui/settings_store.h"
#include "ui/settings_table.h"

namespace {

// In memory where there is such a folder: the store syncs every file it writes.
char g_config_home[64] = {};
std::string g_store_folder;

// 2001-09-09: older than any file the store writes itself.
constexpr time_t kFirstTime = 1000000000;

// Files the store set aside (it keeps each under a name of its own).
void RemoveKeptFiles() {
  const std::string kept = g_store_folder + "/fuzz.conf.unreadable";
  unlink(kept.c_str());
  for (int n = 2; n <= 100; ++n) {
    if (unlink((kept + "." + std::to_string(n)).c_str()) != 0) break;
  }
}

void RemoveFolders() {
  RemoveKeptFiles();
  unlink((g_store_folder + "/fuzz.conf").c_str());
  rmdir(g_store_folder.c_str());
  rmdir(g_config_home);
}

struct TLoaded {
  std::vector<int32_t> numbers;
  std::vector<QString> texts;
};

TLoaded LoadEverySetting(const TVellumcastSettings& settings, const QString& store_name) {
  TLoaded loaded;
  TSettingsStore store;
  store.StoreOpen(store_name);
  for (const TSettingDef& def : settings.Defs()) {
    const QString name = QString::fromLatin1(def.name);
    if (def.kind == TSettingKind::kText) {
      loaded.texts.push_back(store.StoreGetText(name, def.text_default));
    } else {
      loaded.numbers.push_back(store.StoreGetInt(name, def.int_default));
    }
  }
  return loaded;
}

void SaveEverySetting(const TVellumcastSettings& settings, const QString& store_name, const TLoaded& values) {
  TSettingsStore store;
  store.StoreOpen(store_name);
  size_t number = 0, text = 0;
  for (const TSettingDef& def : settings.Defs()) {
    const QString name = QString::fromLatin1(def.name);
    if (def.kind == TSettingKind::kText) {
      store.StoreSetText(name, values.texts[text++]);
    } else {
      store.StoreSetInt(name, values.numbers[number++]);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The store lives below $XDG_CONFIG_HOME: a folder of this process's own.
  struct stat info;
  const bool in_memory = stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode) && access("/dev/shm", W_OK) == 0;
  std::snprintf(g_config_home, sizeof g_config_home, "%s/fuzz_settings_store_XXXXXX",
                in_memory ? "/dev/shm" : "/tmp");
  if (mkdtemp(g_config_home) == nullptr) std::abort();
  setenv("XDG_CONFIG_HOME", g_config_home, 1);
  g_store_folder = std::string(g_config_home) + "/Korvane";
  if (mkdir(g_store_folder.c_str(), 0700) != 0) std::abort();
  std::atexit(RemoveFolders);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const TVellumcastSettings settings;
  static int64_t serial = 0;
  static const std::string path = g_store_folder + "/fuzz.conf";
  RemoveKeptFiles();
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return 0;
  const bool written = std::fwrite(data, 1, size, file) == size;
  if (std::fclose(file) != 0 || !written) return 0;
  // The settings layer rereads a file whose time or size changed: a time of
  // its own for every input, so that it never answers from the last one.
  const timespec times[2] = {{kFirstTime + serial, 0}, {kFirstTime + serial, 0}};
  ++serial;
  if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) return 0;
  const QString store_name = QStringLiteral("fuzz");
  const TLoaded loaded = LoadEverySetting(settings, store_name);
  SaveEverySetting(settings, store_name, loaded);
  const TLoaded again = LoadEverySetting(settings, store_name);
  if (again.numbers != loaded.numbers || again.texts != loaded.texts) std::abort();
  return 0;
}
