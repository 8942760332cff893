// Control ids: each control of a window carries its number as its object name, so that code
// and tests find a control by the id its window gives it.
#pragma once

#include <QString>
#include <QWidget>

namespace desktop {

// The ids of a dialog's OK and Cancel buttons.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

inline void SetControlId(QObject* control, int id) {
  control->setObjectName(QString::number(id));
}

template <typename Control>
Control* FindControl(const QObject* window, int id) {
  return window->findChild<Control*>(QString::number(id));
}

}  // namespace desktop
