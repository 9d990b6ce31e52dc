#include "Tavix_YouTube/ui/WindowVisibility.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <cstdlib>

#if defined(TAVIX_WITH_XCB)
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>
#endif

namespace {

#if defined(TAVIX_WITH_XCB)
xcb_connection_t* x11Connection() {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  return x11 ? x11->connection() : nullptr;
}

// Adds visibility changes to the events this client hears of `window`,
// keeping the ones the toolkit selected.
void selectVisibilityEvents(xcb_connection_t* connection, xcb_window_t window) {
  xcb_get_window_attributes_reply_t* reply =
      xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, window), nullptr);
  if (reply == nullptr) return;
  const uint32_t mask = reply->your_event_mask | XCB_EVENT_MASK_VISIBILITY_CHANGE;
  std::free(reply);
  xcb_change_window_attributes(connection, window, XCB_CW_EVENT_MASK, &mask);
  xcb_flush(connection);
}
#endif

}  // namespace

WindowVisibility::WindowVisibility(QWidget* widget) : QObject(widget), m_widget(widget) {
  m_widget->installEventFilter(this);
  QCoreApplication::instance()->installNativeEventFilter(this);
}

void WindowVisibility::attach() {
  QWidget* topLevel = m_widget->window();
  if (topLevel != m_topLevel) {
    if (m_topLevel) m_topLevel->removeEventFilter(this);
    m_topLevel = topLevel;
    m_topLevel->installEventFilter(this);
  }
  QWindow* window = m_topLevel->windowHandle();
  if (window != m_window) {
    if (m_window) m_window->removeEventFilter(this);
    m_window = window;
    if (m_window) m_window->installEventFilter(this);
    setCovered(false);
  }
#if defined(TAVIX_WITH_XCB)
  if (m_window && QGuiApplication::platformName() == QLatin1String("xcb") && m_window->winId() != m_selectedWindow) {
    if (xcb_connection_t* connection = x11Connection()) {
      m_selectedWindow = m_window->winId();
      selectVisibilityEvents(connection, xcb_window_t(m_selectedWindow));
    }
  }
#endif
}

bool WindowVisibility::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::Show:
    case QEvent::WinIdChange:
      attach();
      evaluate();
      break;
    case QEvent::Hide:
    case QEvent::WindowStateChange:
      evaluate();
      break;
    case QEvent::Expose:
      // Something of the window is to be drawn: it is not covered (anymore).
      if (watched == m_window && m_window->isExposed()) setCovered(false);
      evaluate();
      break;
    default:
      break;
  }
  return false;
}

bool WindowVisibility::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
#if defined(TAVIX_WITH_XCB)
  if (m_selectedWindow == 0 || eventType != "xcb_generic_event_t") return false;
  const auto* event = static_cast<const xcb_generic_event_t*>(message);
  if ((event->response_type & 0x7f) != XCB_VISIBILITY_NOTIFY) return false;
  const auto* visibility = reinterpret_cast<const xcb_visibility_notify_event_t*>(event);
  if (visibility->window == xcb_window_t(m_selectedWindow)) {
    setCovered(visibility->state == XCB_VISIBILITY_FULLY_OBSCURED);
  }
#else
  Q_UNUSED(eventType);
  Q_UNUSED(message);
#endif
  return false;
}

void WindowVisibility::setCovered(bool covered) {
  if (covered == m_covered) return;
  m_covered = covered;
  evaluate();
}

void WindowVisibility::evaluate() {
  const bool visible = m_widget->isVisible() && m_topLevel && !m_topLevel->isMinimized() &&
                       (!m_window || m_window->isExposed()) && !m_covered;
  if (visible == m_visible) return;
  m_visible = visible;
  emit changed(visible);
}
