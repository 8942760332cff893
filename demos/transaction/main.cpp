// WGHighPerformanceAPIDemo: enrollment, validation, verification and identification through
// the transaction calls, polled or with a callback.
#include "demos/transaction/main_frame.h"
#include "demos/transaction/resource.h"
#include "platform/desktop/application.h"

int main(int argc, char** argv) {
  desktop::Application app(argc, argv);
  QApplication::setApplicationName(QString::fromLatin1(kAppTitle));
  CMainFrame frame;
  frame.show();
  return app.exec();
}
