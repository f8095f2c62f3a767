#pragma once

class QWidget;

// SIGINT, SIGTERM and SIGHUP (Ctrl+C in the terminal that started us, a
// logout, a closed terminal) close the window as its close button does, so
// a write to the controller that is under way finishes first. Unix only;
// elsewhere nothing is installed.
namespace CloseSignals {

void install(QWidget &window);

// The signal that closed the window, or 0.
int received();

} // namespace CloseSignals
