#include "terminationsignals.h"

#include <QMetaObject>

#include <csignal>

#include <windows.h>

// Windows has no SIGTERM to catch: Ctrl+C and Ctrl+Break in the console
// (SIGINT) and the console's closing or the session's end (SIGTERM) come
// to a console control handler instead, on a thread of the system's.
namespace {
TerminationSignals *instance = nullptr;

BOOL WINAPI controlHandler(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        TerminationSignals::handle(SIGINT);
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        TerminationSignals::handle(SIGTERM);
        return TRUE;
    default:
        return FALSE;
    }
}
} // namespace

TerminationSignals::TerminationSignals(QObject *parent)
    : QObject(parent)
{
}

TerminationSignals::~TerminationSignals()
{
    if (instance != this)
        return;
    SetConsoleCtrlHandler(controlHandler, FALSE);
    instance = nullptr;
}

bool TerminationSignals::install()
{
    instance = this;
    if (!SetConsoleCtrlHandler(controlHandler, TRUE)) {
        instance = nullptr;
        m_error = qt_error_string(int(GetLastError()));
        return false;
    }
    return true;
}

void TerminationSignals::handle(int signalNumber)
{
    // Delivered by the event loop of the object's thread.
    if (instance)
        QMetaObject::invokeMethod(instance, [signalNumber] {
            if (instance)
                emit instance->received(signalNumber);
        }, Qt::QueuedConnection);
}
