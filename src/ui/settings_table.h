#pragma once
// The 32 stored settings of the main window, in the order in which they are
// loaded and saved, each with its kind, its default and the control that
// shows it.

#include <array>
#include <cstdint>

#include <QString>

#include "engine/run/thread_vellumcast.h"

enum class TSettingKind {
  kText,    // one-line edit, stored as text
  kNumber,  // one-line edit holding a whole number, stored as a number
  kFlag,    // check box, stored as 0 or 1
  kSort,    // radio group, stored as the selected index (-1 to 1)
  kChoice,  // radio group with one item always selected, stored as its index (0 to items - 1)
  kWord,    // combo box whose items carry the words stored (text_default: the word shown otherwise)
};

struct TSettingDef {
  const char* name;      // value name in the store
  TSettingKind kind;
  const char* control;   // objectName of the control
  int32_t int_default;   // numbers, flags and the sort index
  QString text_default;  // texts and words
};

// Run settings kept in the store without a control of their own (0 or 1):
// Start reads them from the store as they are; the window never writes them.
struct TStoredRunFlag {
  const char* name;
  bool TIndexOptions::*field;
  int32_t int_default;
};
inline constexpr TStoredRunFlag kStoredRunFlags[] = {
    {"rebuild", &TIndexOptions::rebuild, 0},  // do every thumbnail and file afresh
    {"crop", &TIndexOptions::crop, 0},        // modern thumbnails fill their cell
};

// A stored run setting without a control of its own: kept as text, loaded
// and saved with the others and handed to each run.
struct TRunSettingDef {
  const char* name;
  const char* text_default;
};

class TVellumcastSettings {
 public:
  // formats ("classic" or "all"), order ("name", "natural" or "date") and
  // exclude (';'-separated wildcard patterns). An empty formats or order
  // follows the style: classic and name for the classic style, all and
  // natural for the modern one.
  static constexpr int kRunCount = 3;
  static constexpr std::array<TRunSettingDef, kRunCount> kRunSettings{{
      {"formats", ""},
      {"order", ""},
      {"exclude", ""},
  }};

  static constexpr int kCount = 33;
  static constexpr const char* kStoreName = "vellumcast";
  static constexpr int32_t kSortMin = -1;
  static constexpr int32_t kSortMax = 1;

  TVellumcastSettings();
  const std::array<TSettingDef, kCount>& Defs() const { return defs_; }
  // The entry of that value name, or nullptr.
  const TSettingDef* Find(const char* name) const;

  // The user's pictures folder, or the home folder when there is none.
  static QString DefaultStartPath();
  // "Produced by Vellumcast! " followed by the home-page address.
  static QString DefaultFooterText();

 private:
  std::array<TSettingDef, kCount> defs_;
};
