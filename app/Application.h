#pragma once
// KestrovaApplication: the application object, which shows errors that no handler caught.

#include <QApplication>

namespace kestrova {

class KestrovaApplication : public QApplication {
 public:
  KestrovaApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace kestrova
