// QuitSignals: SIGTERM (a logout), SIGINT (Ctrl+C) and SIGHUP (the terminal
// closing) quit the application the way closing its window does: the event
// loop ends, exec() returns and the one quit path runs (AppShell::quit).
//
// The signal handler only writes a byte to a pipe (all it may do); the
// event loop reads it and asks the application to quit. Each handler is
// installed to run once: a second signal, while the quit path runs, ends the
// process the default way. Destruction puts the previous handlers back.
// Children never inherit the handlers (they start with default dispositions).
//
// GUI thread only; one instance at a time.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <csignal>
#include <memory>

class QuitSignals : public QObject {
  Q_OBJECT
 public:
  static constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

  explicit QuitSignals(QObject* parent = nullptr);
  ~QuitSignals() override;

 private:
  void readSignal();

  int m_pipe[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> m_notifier;
  struct sigaction m_previous[std::size(kSignals)] = {};
};
