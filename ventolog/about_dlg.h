// The About box: the program's icon and its own file version text.
#pragma once

#include <QDialog>

inline constexpr int kIdVersionText = 1398;

class AboutDlg : public QDialog {
 public:
  explicit AboutDlg(QWidget* parent);
};
