#include "demos/common/display_panel.h"

#include <QPainter>
#include <QTextCursor>

#include <algorithm>
#include <cstring>

#include "platform/desktop/application.h"
#include "platform/desktop/dib.h"
#include "whorlgate.h"

namespace demo {

void ClearTextBox(QPlainTextEdit* box) {
  QTextCursor cursor = box->textCursor();
  cursor.select(QTextCursor::Document);
  box->setTextCursor(cursor);
  box->ensureCursorVisible();
  box->textCursor().removeSelectedText();
}

TextBox::TextBox(QWidget* parent) : QPlainTextEdit(parent) {
  setFrameStyle(QFrame::Box | QFrame::Plain);
  setLineWidth(1);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

void TextBox::SetText(const QString& text) {
  desktop::RunOnWindowThread(this, [this, text] { setPlainText(text); });
}

void TextBox::Clear() {
  desktop::RunOnWindowThread(this, [this] { ClearTextBox(this); });
}

FingerprintView::FingerprintView(QWidget* parent, ImageCopy copy) : QFrame(parent), copy_(copy) {
  setFrameStyle(QFrame::Box | QFrame::Plain);
  setLineWidth(1);
  AllocateBuffers(WGGetOSBmpHeaderSize());
}

void FingerprintView::AllocateBuffers(size_t headerBytes) {
  std::lock_guard guard(lock_);
  header_.assign(std::max(headerBytes, sizeof(WGBitmapHeader)), 0);
  pixels_.assign(WGGetImageBufferSize(), 0);
}

bool FingerprintView::ShowImage(const uint8_t* imageBuffer) {
  {
    std::lock_guard guard(lock_);
    bool built = WGBuildOSBmpHeader(0, header_.data()) == WG_OK;
    size_t bytes = pixels_.size();
    if (copy_ == ImageCopy::kHeaderImageSize) {
      if (!built) return false;
      WGBitmapHeader header;
      memcpy(&header, header_.data(), sizeof header);
      // A header never makes the copy run past the buffer.
      bytes = std::min<size_t>(header.info.uiImageSize, bytes);
    }
    memcpy(pixels_.data(), imageBuffer, bytes);
  }
  present_ = true;
  desktop::RunOnWindowThread(this, [this] { update(); });
  return true;
}

void FingerprintView::Withdraw() {
  present_ = false;
  desktop::RunOnWindowThread(this, [this] { update(); });
}

void FingerprintView::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  QPainter painter(this);
  QRect inside = contentsRect();
  if (!present_) {
    painter.fillRect(inside, QColor(100, 100, 100));
    return;
  }
  std::lock_guard guard(lock_);
  WGBitmapHeader header;
  memcpy(&header, header_.data(), sizeof header);
  desktop::StretchDib(painter, QRect(inside.topLeft(), QSize(kSide, kSide)), header,
                      pixels_.data());
}

ProgressBar::ProgressBar(QWidget* parent, int maximum, int step)
    : QProgressBar(parent), step_(step) {
  setRange(0, maximum);
  setValue(0);
  setTextVisible(false);
}

void ProgressBar::StepIt() {
  desktop::RunOnWindowThread(this, [this] { setValue(std::min(value() + step_, maximum())); });
}

void ProgressBar::SetPos(int position) {
  desktop::RunOnWindowThread(this, [this, position] { setValue(position); });
}

}  // namespace demo
