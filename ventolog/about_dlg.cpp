#include "ventolog/about_dlg.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "platform/desktop/controls.h"
#include "shared/registry.h"

AboutDlg::AboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About Ventolog"));
  auto* icon = new QLabel(this);
  QIcon programIcon = QApplication::windowIcon();
  if (programIcon.isNull()) programIcon = style()->standardIcon(QStyle::SP_ComputerIcon);
  icon->setPixmap(programIcon.pixmap(32, 32));

  char version[kModuleVersionTextLength];
  GetModuleVersionText(nullptr, version);
  auto* text =
      new QLineEdit(QStringLiteral("Software Version - %1").arg(QString::fromUtf8(version)), this);
  desktop::SetControlId(text, kIdVersionText);
  text->setReadOnly(true);
  text->setMinimumWidth(220);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  desktop::SetControlId(buttons->button(QDialogButtonBox::Ok), desktop::kIdOk);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* row = new QHBoxLayout;
  row->addWidget(icon);
  row->addWidget(text);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(buttons);
}
