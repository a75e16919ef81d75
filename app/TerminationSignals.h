#pragma once

#include <QSocketNotifier>
#include <memory>

// SIGTERM (a logout), SIGINT (Ctrl+C in a terminal) and SIGHUP (the terminal went away) end
// Tovik the orderly way, through QCoreApplication::quit(), as the menu's Quit does: running
// downloads are stopped and waited for. The handler only writes to a pipe; the quit happens
// in the event loop. One instance per process, made after the application object.
class TerminationSignals {
public:
    TerminationSignals();
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals &) = delete;
    TerminationSignals &operator=(const TerminationSignals &) = delete;

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
};
