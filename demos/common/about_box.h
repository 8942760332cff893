// A demo's About box: the program's icon, its lines of text and OK.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QStringList>

namespace demo {

class AboutBox : public QDialog {
 public:
  AboutBox(QWidget* parent, const QString& caption, const QStringList& lines);
};

// The demos' icon: a whorl of ridges on a fingertip.
QIcon DemoIcon();

}  // namespace demo
