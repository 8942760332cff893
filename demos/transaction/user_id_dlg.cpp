#include "demos/transaction/user_id_dlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRadioButton>

#include <cmath>

#include "demos/transaction/resource.h"
#include "platform/desktop/controls.h"
#include "platform/desktop/modal.h"

namespace {

constexpr int kPictureWidth = 71;
constexpr int kPictureHeight = 80;

// Where each finger button goes, from the top-left corner of its hand's picture.
struct FingerButton {
  int id;
  int16_t finger;
  bool rightHand;
  int dx, dy;
};
constexpr FingerButton kFingerButtons[] = {
    {1004, 1, false, 61, 60}, {1006, 2, false, 68, 18}, {1008, 3, false, 60, 2},
    {1007, 4, false, 45, -2}, {1005, 5, false, 25, -2}, {1012, 6, true, -5, 60},
    {1009, 7, true, -10, 18}, {1013, 8, true, -1, 1},   {1011, 9, true, 15, -2},
    {1010, 10, true, 33, -2},
};
constexpr int kDefaultFingerButton = 1009;
constexpr int16_t kDefaultFinger = 7;

// The finger buttons are drawn without a caption, so their corner is the dot's corner.
constexpr int kFingerButtonSide = 13;

}  // namespace

QImage LeftHandPicture() {
  QImage picture(kPictureWidth, kPictureHeight, QImage::Format_ARGB32_Premultiplied);
  picture.fill(Qt::transparent);
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing);
  const QColor skin(236, 196, 160);
  const QColor outline(120, 80, 50);
  // Each finger from its root on the palm to its tip, thumb first, then index to little.
  struct Finger {
    QPointF root, tip;
    qreal width;
  };
  const Finger fingers[] = {
      {{46, 60}, {66, 68}, 12}, {{45, 42}, {67, 24}, 10}, {{38, 38}, {61, 7}, 10},
      {{29, 38}, {48, 4}, 10},  {{21, 42}, {29, 5}, 9},
  };
  QPainterPath hand;
  hand.addRoundedRect(QRectF(12, 36, 40, 42), 14, 14);
  for (const Finger& finger : fingers) {
    QPainterPath stroke;
    stroke.moveTo(finger.root);
    stroke.lineTo(finger.tip);
    QPainterPathStroker stroker;
    stroker.setWidth(finger.width);
    stroker.setCapStyle(Qt::RoundCap);
    hand = hand.united(stroker.createStroke(stroke));
  }
  painter.setPen(QPen(outline, 1.2));
  painter.setBrush(skin);
  painter.drawPath(hand.simplified());
  // A nail on each fingertip.
  painter.setBrush(QColor(250, 226, 214));
  for (const Finger& finger : fingers) {
    QPointF along = finger.root - finger.tip;
    along /= std::hypot(along.x(), along.y());
    painter.drawEllipse(finger.tip + along * 4, finger.width * 0.28, finger.width * 0.28);
  }
  return picture;
}

QImage RightHandPicture() {
  return LeftHandPicture().mirrored(true, false);
}

UserIdDlg::UserIdDlg(QWidget* parent, Mode mode) : QDialog(parent), mode_(mode) {
  setWindowTitle(QStringLiteral("User Identification"));
  // 206 x 142 dialog units of the 8-point dialog font.
  setFixedSize(309, 231);

  auto* nameLabel = new QLabel(QStringLiteral("Name :"), this);
  desktop::SetControlId(nameLabel, kIdNameLabel);
  nameLabel->setGeometry(10, 14, 40, 16);
  nameEdit_ = new QLineEdit(this);
  desktop::SetControlId(nameEdit_, kIdNameEdit);
  nameEdit_->setGeometry(52, 11, 163, 21);

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  desktop::SetControlId(ok, desktop::kIdOk);
  ok->setGeometry(228, 10, 72, 24);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &UserIdDlg::accept);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  desktop::SetControlId(cancel, desktop::kIdCancel);
  cancel->setGeometry(228, 40, 72, 24);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* markLabel = new QLabel(QStringLiteral("Mark Finger to Add"), this);
  desktop::SetControlId(markLabel, kIdMarkFingerLabel);
  markLabel->setGeometry(105, 196, 110, 16);
  markLabel->setAlignment(Qt::AlignCenter);

  for (const FingerButton& button : kFingerButtons) {
    auto* radio = new QRadioButton(this);
    desktop::SetControlId(radio, button.id);
    radio->resize(kFingerButtonSide + 4, kFingerButtonSide + 4);
    radio->setToolTip(QStringLiteral("Finger %1").arg(button.finger));
    connect(radio, &QRadioButton::clicked, this, [this, finger = button.finger] { finger_ = finger; });
  }
  if (mode_ == Mode::kEnroll) {
    PlaceFingerButtons();
  } else {
    for (const FingerButton& button : kFingerButtons) {
      desktop::FindControl<QRadioButton>(this, button.id)->hide();
    }
    markLabel->hide();
  }
  nameEdit_->setFocus();
}

void UserIdDlg::PlaceFingerButtons() {
  const QRect label = desktop::FindControl<QLabel>(this, kIdNameLabel)->geometry();
  const QRect edit = nameEdit_->geometry();
  const int top = edit.y() + edit.height() + 32;
  leftHand_ = QPoint(label.x(), top);
  rightHand_ = QPoint(edit.x() + edit.width() - kPictureWidth, top);
  for (const FingerButton& button : kFingerButtons) {
    QPoint origin = button.rightHand ? rightHand_ : leftHand_;
    desktop::FindControl<QRadioButton>(this, button.id)->move(origin + QPoint(button.dx, button.dy));
  }
  leftPicture_ = LeftHandPicture();
  rightPicture_ = RightHandPicture();
  finger_ = kDefaultFinger;
  desktop::FindControl<QRadioButton>(this, kDefaultFingerButton)->setChecked(true);
}

void UserIdDlg::accept() {
  QString name = nameEdit_->text();
  if (name.isEmpty()) {
    desktop::ShowMessage(this, {"Name cannot be blank", kAppTitle,
                                desktop::MessageButtons::kOk, desktop::MessageIcon::kWarning});
    return;
  }
  name_ = name;
  QDialog::accept();
}

void UserIdDlg::paintEvent(QPaintEvent* event) {
  QDialog::paintEvent(event);
  if (mode_ != Mode::kEnroll) return;
  QPainter painter(this);
  painter.drawImage(leftHand_, leftPicture_);
  painter.drawImage(rightHand_, rightPicture_);
}
