// User Identification: the name of the user, and in enroll mode the finger, chosen by clicking
// its button on one of two hand pictures.
#pragma once

#include <QDialog>
#include <QImage>
#include <QString>

#include <cstdint>

class QLineEdit;
class QRadioButton;

class UserIdDlg : public QDialog {
 public:
  enum class Mode { kEnroll, kId };

  UserIdDlg(QWidget* parent, Mode mode);

  QString name() const { return name_; }
  int16_t finger() const { return finger_; }

  void accept() override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void PlaceFingerButtons();

  const Mode mode_;
  QLineEdit* nameEdit_;
  QString name_;
  int16_t finger_ = 0;
  QPoint leftHand_, rightHand_;  // where the pictures are drawn, in enroll mode
  QImage leftPicture_, rightPicture_;
};

// The hand pictures, 71 x 80 pixels, seen from the back with the fingers up: the left hand's
// thumb on its right, the right hand's on its left.
QImage LeftHandPicture();
QImage RightHandPicture();
