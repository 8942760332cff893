#include "demos/transaction/db_admin_dlg.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include <cstring>

#include "demos/transaction/resource.h"
#include "demos/transaction/user_record.h"
#include "platform/desktop/controls.h"
#include "platform/desktop/modal.h"
#include "whorlgate.h"

DbAdminDlg::DbAdminDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Database Administration"));
  setFixedSize(280, 230);
  auto* label = new QLabel(QStringLiteral("User List"), this);
  label->setGeometry(12, 8, 150, 16);
  users_ = new QListWidget(this);
  desktop::SetControlId(users_, kIdUserList);
  users_->setSelectionMode(QAbstractItemView::SingleSelection);
  users_->setGeometry(12, 26, 170, 192);
  auto* remove = new QPushButton(QStringLiteral("Delete User"), this);
  desktop::SetControlId(remove, kIdDeleteUser);
  remove->setGeometry(194, 26, 76, 24);
  connect(remove, &QPushButton::clicked, this, [this] { DeleteSelectedUser(); });
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  desktop::SetControlId(ok, desktop::kIdOk);
  ok->setGeometry(194, 194, 76, 24);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  WGUserList* list = nullptr;
  if (WhorlgateGetListOfAllUsers(&list) == WG_OK && list) {
    for (uint32_t i = 0; i < list->ulNumberOfUsers; ++i) {
      users_->addItem(UserIdText(list->users[i]));
    }
    WhorlgateDeleteUserList(list);
  }
  if (users_->count() > 0) users_->setCurrentRow(0);
}

void DbAdminDlg::DeleteSelectedUser() {
  QListWidgetItem* selected = users_->currentItem();
  if (!selected || !selected->isSelected()) return;
  WGUserRecord user = RequestRecord(selected->text());
  if (WhorlgateDeleteUser(&user) != WG_OK) {
    desktop::ShowMessage(this, {"There was an error trying to delete the requested user.",
                                "Delete User Error"});
    return;
  }
  delete selected;
}
