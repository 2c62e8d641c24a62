#include "ui/settings_store.h"

#include <limits>

#include <QSettings>
#include <QStringList>
#include <QVariant>

namespace {

constexpr const char* kOrganization = "Korvane";

}  // namespace

TSettingsStore::TSettingsStore() = default;
TSettingsStore::~TSettingsStore() { StoreClose(); }

void TSettingsStore::StoreOpen(const QString& store_name) {
  StoreClose();
  settings_ = std::make_unique<QSettings>(QString::fromLatin1(kOrganization), store_name);
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
