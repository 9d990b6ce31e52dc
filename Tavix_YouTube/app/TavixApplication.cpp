#include "Tavix_YouTube/app/TavixApplication.h"

#include <exception>
#include <string>

#include "platform/log/InternalProblem.h"
#include "platform/values/Exception.h"

TavixApplication::TavixApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TavixApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const platform::Exception& exception) {
    platform::reportInternalProblem("event loop", "uncaught exception " + exception.name + ": " + exception.reason);
  } catch (const std::exception& exception) {
    platform::reportInternalProblem("event loop", std::string("uncaught exception: ") + exception.what());
  } catch (...) {
    platform::reportInternalProblem("event loop", "uncaught exception of unknown type");
  }
  return false;
}
