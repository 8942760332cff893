// The windows on which the demos show a running transaction: text boxes for the status and the
// prompt, the 128 x 128 fingerprint view and the enrollment progress bar. Every call that
// changes what they show may come from the library's event thread: it is carried out on the
// window thread, in the order of the calls.
#pragma once

#include <QFrame>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QString>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

namespace demo {

// A line of text a transaction writes to and empties.
class TextSurface {
 public:
  virtual ~TextSurface() = default;
  virtual void SetText(const QString& text) = 0;
  virtual void Clear() = 0;
};

// A picture of the finger the transaction sends. ShowImage copies what it needs before it
// returns; false when the image could not be prepared for drawing.
class ImageSurface {
 public:
  virtual ~ImageSurface() = default;
  virtual bool ShowImage(const uint8_t* imageBuffer) = 0;
  virtual void Withdraw() = 0;
};

// Selects the whole text, brings the caret into view and deletes the selection.
void ClearTextBox(QPlainTextEdit* box);

// A bordered multi-line text box that scrolls down as text comes.
class TextBox : public QPlainTextEdit, public TextSurface {
 public:
  explicit TextBox(QWidget* parent);
  void SetText(const QString& text) override;
  void Clear() override;
};

// How much of an image event the view copies: the whole image buffer, or as many bytes as the
// bitmap header says the image holds (the header is then checked).
enum class ImageCopy { kWholeBuffer, kHeaderImageSize };

// A bordered view whose inside shows the last image at its own size, or a grey square.
class FingerprintView : public QFrame, public ImageSurface {
 public:
  static constexpr int kSide = 128;

  FingerprintView(QWidget* parent, ImageCopy copy);
  // Gives the view fresh buffers: a bitmap header of `headerBytes` (at least the size of the
  // library's header) and an image buffer of the library's size. A view starts with them.
  void AllocateBuffers(size_t headerBytes);

  bool ShowImage(const uint8_t* imageBuffer) override;
  void Withdraw() override;
  bool imagePresent() const { return present_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const ImageCopy copy_;
  mutable std::mutex lock_;  // the buffers: filled on the event thread, drawn on the window's
  std::vector<uint8_t> header_;
  std::vector<uint8_t> pixels_;
  std::atomic<bool> present_{false};
};

// A smooth progress bar that advances by its step, as the enrollment's views are taken.
class ProgressBar : public QProgressBar {
 public:
  ProgressBar(QWidget* parent, int maximum, int step);
  void StepIt();
  void SetPos(int position);

 private:
  const int step_;
};

}  // namespace demo
