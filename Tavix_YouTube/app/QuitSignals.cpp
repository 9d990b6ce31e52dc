#include "Tavix_YouTube/app/QuitSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cerrno>

namespace {

// The write end of the instance's pipe, for the handler.
volatile sig_atomic_t g_writeEnd = -1;

extern "C" void onQuitSignal(int signalNumber) {
  const int savedErrno = errno;
  const unsigned char byte = static_cast<unsigned char>(signalNumber);
  if (g_writeEnd >= 0) (void)!::write(g_writeEnd, &byte, 1);
  errno = savedErrno;
}

}  // namespace

QuitSignals::QuitSignals(QObject* parent) : QObject(parent) {
  if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  g_writeEnd = m_pipe[1];
  m_notifier = std::make_unique<QSocketNotifier>(m_pipe[0], QSocketNotifier::Read);
  connect(m_notifier.get(), &QSocketNotifier::activated, this, &QuitSignals::readSignal);
  struct sigaction action = {};
  action.sa_handler = onQuitSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  for (size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &action, &m_previous[i]);
}

QuitSignals::~QuitSignals() {
  if (m_pipe[0] < 0) return;
  for (size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &m_previous[i], nullptr);
  g_writeEnd = -1;
  m_notifier.reset();
  ::close(m_pipe[0]);
  ::close(m_pipe[1]);
}

void QuitSignals::readSignal() {
  unsigned char byte = 0;
  bool received = false;
  while (::read(m_pipe[0], &byte, 1) == 1) received = true;
  if (received) QCoreApplication::quit();
}
