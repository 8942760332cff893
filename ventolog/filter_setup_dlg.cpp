#include "ventolog/filter_setup_dlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/desktop/controls.h"

FilterSetupDlg::FilterSetupDlg(QWidget* parent, uint32_t mask,
                               const char (*names)[kTraceNameLength])
    : QDialog(parent), mask_(mask), names_(names) {
  setWindowTitle(QStringLiteral("Filter Type Setup"));
  auto* grid = new QGridLayout;
  for (int bit = 0; bit < 32; ++bit) {
    auto* box = new QCheckBox(this);
    desktop::SetControlId(box, FilterCheckBoxId(bit));
    boxes_[bit] = box;
    // Two columns of sixteen, the highest bit of each at the top: bits 31..16 on the left,
    // 15..0 on the right.
    grid->addWidget(box, 15 - bit % 16, bit < 16 ? 1 : 0);
    connect(box, &QCheckBox::clicked, this, [this, bit] {
      mask_ ^= 1u << bit;
      ShowBit(bit);
    });
    ShowBit(bit);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  desktop::SetControlId(buttons->button(QDialogButtonBox::Ok), desktop::kIdOk);
  desktop::SetControlId(buttons->button(QDialogButtonBox::Cancel), desktop::kIdCancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(buttons);
}

void FilterSetupDlg::ShowBit(int bit) {
  boxes_[bit]->setText(QString::fromUtf8(names_[bit]));
  boxes_[bit]->setChecked((mask_ >> bit) & 1u);
}
