#include "ui/settings_store.h"

#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <QVariant>

#include "support/path_util.h"
#include "support/setting_lines.h"

namespace {

constexpr const char* kOrganization = "Korvane";

// Where QSettings("Korvane", <name>) keeps the store of that name for the
// current user; the store is opened by this path so that it is looked at
// before QSettings reads it.
QString StorePath(const QString& store_name) {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + '/' +
         QString::fromLatin1(kOrganization) + '/' + store_name + QStringLiteral(".conf");
}

// A store file that holds more than texts and numbers (an edited "@Variant"
// value, which QSettings would decode with lengths taken from the file), a
// line nobody can read, or that is far too large is not handed to QSettings:
// it is kept beside as "<name>.conf.unreadable" (".unreadable.2" and so on
// when that name is taken) and a fresh store gets the
// values that could be read from it. Returns those values; an empty list with
// `set_aside` false when the file may be opened as it is.
std::vector<TSettingLine> SetAsideUnsafeStore(const QString& path, bool* set_aside) {
  *set_aside = false;
  const QByteArray native = QFile::encodeName(path);
  std::string text;
  std::string error;
  bool too_large = false;
  if (!ReadWholeRegularFile(native.constData(), kMaxSettingsFileBytes, TLinkRule::kFollow, &text, &error)) {
    // A missing or unreadable file is QSettings' own case (it starts empty);
    // only a file too large to look at is set aside.
    if (!QFile::exists(path) || QFile(path).size() <= static_cast<qint64>(kMaxSettingsFileBytes)) return {};
    too_large = true;
    text.clear();
  }
  bool holds_only_texts = true;
  TSettingLines lines;
  if (!too_large) lines = SalvageQtIniText(text, &holds_only_texts);
  if (!too_large && holds_only_texts) return {};
  // A file kept from an earlier start stays: the next free name is taken.
  QString kept_path = path + QStringLiteral(".unreadable");
  for (int n = 2; QFile::exists(kept_path) && n <= 100; ++n) {
    kept_path = path + QStringLiteral(".unreadable.") + QString::number(n);
  }
  const QByteArray kept = QFile::encodeName(kept_path);
  if (QFile::exists(kept_path) || std::rename(native.constData(), kept.constData()) != 0) {
    // It cannot be moved: nothing of it is read, and it stays as it is.
    qWarning("settings file %s holds values that cannot be read safely and cannot be set aside; "
             "the defaults stand for this start", native.constData());
    *set_aside = true;
    return {};
  }
  qWarning("settings file %s held values that cannot be read safely; it was kept as %s, "
           "and the values that could be read were carried over", native.constData(), kept.constData());
  *set_aside = true;
  return std::move(lines.lines);
}

}  // namespace

TSettingsStore::TSettingsStore() = default;
TSettingsStore::~TSettingsStore() { StoreClose(); }

void TSettingsStore::StoreOpen(const QString& store_name) {
  StoreClose();
  const QString path = StorePath(store_name);
  bool set_aside = false;
  const std::vector<TSettingLine> carried = SetAsideUnsafeStore(path, &set_aside);
  if (set_aside && QFile::exists(path)) {
    // Kept in place because it could not be moved: no store at all, so that
    // QSettings neither reads nor overwrites it; every read gives its default.
    is_new_ = false;
    return;
  }
  settings_ = std::make_unique<QSettings>(path, QSettings::IniFormat);
  for (const TSettingLine& line : carried) {
    settings_->setValue(QString::fromStdString(line.name), QString::fromStdString(line.value));
  }
  is_new_ = settings_->allKeys().isEmpty();
}

int32_t TSettingsStore::StoreGetInt(const QString& value_name, int32_t fallback) {
  if (!settings_) return fallback;
  if (is_new_) {
    settings_->setValue(value_name, fallback);
    return fallback;
  }
  const QVariant stored = settings_->value(value_name);
  if (!stored.isValid()) return fallback;
  // A text store keeps numbers as text: accept exactly a whole number in the
  // 32-bit range; anything else (a hand-edited word, a huge number) is not
  // readable and the default stands.
  bool ok = false;
  const qlonglong number = stored.toLongLong(&ok);
  if (!ok || number < std::numeric_limits<int32_t>::min() ||
      number > std::numeric_limits<int32_t>::max()) {
    return fallback;
  }
  return static_cast<int32_t>(number);
}

QString TSettingsStore::StoreGetText(const QString& value_name, const QString& fallback) {
  if (!settings_) return fallback;
  if (is_new_) {
    settings_->setValue(value_name, fallback);
    return fallback;
  }
  const QVariant stored = settings_->value(value_name);
  if (!stored.isValid()) return fallback;
  // A hand-written unquoted text with commas comes back as a list: that is
  // still the text the user wrote.
  if (stored.metaType().id() == QMetaType::QStringList) return stored.toStringList().join(", ");
  if (!stored.canConvert<QString>()) return fallback;
  return stored.toString();
}

void TSettingsStore::StoreSetInt(const QString& value_name, int32_t value) {
  if (settings_) settings_->setValue(value_name, value);
}

void TSettingsStore::StoreSetText(const QString& value_name, const QString& text) {
  if (settings_) settings_->setValue(value_name, text);
}

void TSettingsStore::StoreClose() {
  if (!settings_) return;
  settings_->sync();
  settings_.reset();
}
