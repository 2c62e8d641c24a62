#pragma once
// The settings store: one named group of values for the current user, kept by
// QSettings in the file QSettings("Korvane", <store name>) uses,
// $XDG_CONFIG_HOME/Korvane/<store name>.conf. A store lives for one load or one save.
// Reads take a default; on a store that held no value when it was opened they
// also write that default, so that a first start leaves a complete set behind.

#include <cstdint>
#include <memory>

#include <QString>

class QSettings;

class TSettingsStore {
 public:
  TSettingsStore();
  ~TSettingsStore();
  TSettingsStore(const TSettingsStore&) = delete;
  TSettingsStore& operator=(const TSettingsStore&) = delete;

  // Opens (and so creates when missing) the store of that name.
  void StoreOpen(const QString& store_name);
  // True when the store held no value at all when it was opened.
  bool IsNew() const { return is_new_; }

  int32_t StoreGetInt(const QString& value_name, int32_t fallback);
  // The whole stored text, whatever its length; `fallback` when the value is
  // missing or not a text.
  QString StoreGetText(const QString& value_name, const QString& fallback);
  void StoreSetInt(const QString& value_name, int32_t value);
  void StoreSetText(const QString& value_name, const QString& text);
  // Writes everything out and releases the store; also done by the destructor.
  void StoreClose();

 private:
  std::unique_ptr<QSettings> settings_;
  bool is_new_ = false;
};
