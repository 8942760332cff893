#include "demos/common/about_box.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/desktop/controls.h"

namespace demo {

QIcon DemoIcon() {
  QIcon icon;
  for (int side : {16, 32, 48, 64}) {
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal unit = side / 32.0;
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(236, 214, 190));
    painter.drawEllipse(QRectF(4 * unit, 1 * unit, 24 * unit, 30 * unit));
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(90, 60, 40), std::max(1.0, 1.6 * unit)));
    // Ridges as arcs around the core, each a little wider and taller than the last.
    for (int ring = 1; ring <= 5; ++ring) {
      qreal rx = ring * 2.2 * unit, ry = ring * 2.8 * unit;
      painter.drawArc(QRectF(16 * unit - rx, 16 * unit - ry, 2 * rx, 2 * ry), 30 * 16,
                      300 * 16);
    }
    icon.addPixmap(pixmap);
  }
  return icon;
}

AboutBox::AboutBox(QWidget* parent, const QString& caption, const QStringList& lines)
    : QDialog(parent) {
  setWindowTitle(caption);
  auto* picture = new QLabel(this);
  picture->setPixmap(DemoIcon().pixmap(32, 32));
  auto* texts = new QVBoxLayout;
  for (const QString& line : lines) texts->addWidget(new QLabel(line, this));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  desktop::SetControlId(buttons->button(QDialogButtonBox::Ok), desktop::kIdOk);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* row = new QHBoxLayout;
  row->addWidget(picture, 0, Qt::AlignTop);
  row->addLayout(texts, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(buttons);
}

}  // namespace demo
