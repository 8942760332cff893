// The dialog that edits one filter mask, one labelled check box per bit.
#pragma once

#include <QDialog>

#include <cstdint>

#include "shared/trace.h"

class QCheckBox;

inline constexpr int kFirstLowBitCheckBox = 1022;   // bits 0 to 15, right column
inline constexpr int kFirstHighBitCheckBox = 1054;  // bits 16 to 31, left column

// The control id of the check box of `bit`.
constexpr int FilterCheckBoxId(int bit) {
  return bit < 16 ? kFirstLowBitCheckBox + bit : kFirstHighBitCheckBox + bit - 16;
}

class FilterSetupDlg : public QDialog {
 public:
  // `names` is the name table of the mask's bits (where names or type names).
  FilterSetupDlg(QWidget* parent, uint32_t mask, const char (*names)[kTraceNameLength]);

  // The edited copy; the caller stores it when the dialog ends with OK.
  uint32_t Mask() const { return mask_; }

 private:
  void ShowBit(int bit);

  uint32_t mask_;
  const char (*names_)[kTraceNameLength];
  QCheckBox* boxes_[32] = {};
};
