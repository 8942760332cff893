// Database Administration: the enrolled users, and deleting one of them.
#pragma once

#include <QDialog>

class QListWidget;

class DbAdminDlg : public QDialog {
 public:
  explicit DbAdminDlg(QWidget* parent);

 private:
  void DeleteSelectedUser();

  QListWidget* users_;
};
