// The serial port settings dialog: five drop-down lists that show the registry's settings and
// write them back on OK.
#pragma once

#include <QDialog>

#include "shared/registry.h"

class QComboBox;

inline constexpr int kIdPortList = 1074;
inline constexpr int kIdBaudRateList = 1070;
inline constexpr int kIdDataBitsList = 1071;
inline constexpr int kIdParityList = 1072;
inline constexpr int kIdStopBitsList = 1073;

class CommSettingsDlg : public QDialog {
 public:
  CommSettingsDlg(QWidget* parent, const RegistryRoot& registry);

  void accept() override;

 private:
  const RegistryRoot& registry_;
  QComboBox* port_;
  QComboBox* baudRate_;
  QComboBox* dataBits_;
  QComboBox* parity_;
  QComboBox* stopBits_;
};
