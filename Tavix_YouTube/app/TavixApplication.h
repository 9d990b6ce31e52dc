// TavixApplication: the Qt application object. An exception thrown by an
// event handler (a click, a queued call, a timer) is caught where Qt delivers
// the event, logged through reportInternalProblem, and the event loop goes on:
// the window stays up.
//
// GUI thread only.
#pragma once

#include <QApplication>

class TavixApplication : public QApplication {
  Q_OBJECT
 public:
  TavixApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};
