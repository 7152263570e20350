// Indices of the text table: each names one text, which exists in Chinese and
// in English (res/text_table.json).
#pragma once

namespace tarvik {

enum TextIndex : int {
  kTextSearch = 0,
  kTextUpdate = 1,
  kTextUpdatingStop = 2,
  kTextFileType = 3,
  kTextUpgraded = 4,
  kTextFw = 5,
  kTextTitle = 6,
  kTextUpdateFailure = 7,
  kTextSearchingBluetooth = 8,
  kTextWarning = 9,
  kTextOpenBluetoothError = 10,
  kTextNeedBootMode = 11,
  kTextUsbUpdate = 12,
  kTextUpgradeToLatest = 13,
  kTextHelp = 14,
  kTextCurrentIs = 15,
  kTextResetHint = 16,
};

}  // namespace tarvik
