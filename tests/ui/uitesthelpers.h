#pragma once

#include "startup/polishcatalogues.h"

#include <QList>
#include <QObject>
#include <QScopedPointer>
#include <QString>

#include <functional>

class FakeUpdateServer;
class QWidget;

// Helpers for tests that drive the updater's windows.
namespace UiTest {

// Visible top-level widgets whose object name is the given one.
QList<QWidget *> openWindows(const QString &objectName);

// The one visible top-level widget with that object name; null when there is
// none or more than one.
QWidget *openWindow(const QString &objectName);

// Closes every top-level widget and runs the pending deferred deletions, so
// that no window of one test survives into the next.
void closeAllWindows();

// Makes the window the active one, as a click on it would; false when the
// platform does not activate it.
bool activate(QWidget *window);

// Presses and releases a key the way a user does: in the window, on the widget
// that has its focus (the window itself when none has), so the window's
// shortcuts apply as well.
void pressKey(QWidget *window, Qt::Key key);

// Runs the application's event loop, calls 'action' from inside it, and
// returns the loop's result once it ends. A loop still running after
// 'timeoutMs' is ended with the result 99, so a test fails instead of hanging.
int runEventLoop(const std::function<void()> &action, int timeoutMs = 10000);

// An installation directory DIR whose messenger prints an empty query, so
// that the check goes straight to the server.
bool makeInstallation(const QString &dir);

// The Polish catalogues from the resources (the updater's and Qt's), installed
// for the lifetime of the object as the updater installs them.
class PolishCatalogue
{
public:
    PolishCatalogue() { m_installed = m_catalogues.install(); }

    bool isInstalled() const { return m_installed; }

private:
    PolishCatalogues m_catalogues;
    bool m_installed = false;
};

// What the window tests share: a fake update server listening where the
// build's updater asks, and no window or changed command line left behind by
// one test for the next.
class WindowTestCase : public QObject
{
    Q_OBJECT

public:
    WindowTestCase();
    ~WindowTestCase() override;

protected:
    FakeUpdateServer &updateServer() { return *m_server; }

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

private:
    // Made and destroyed while the application exists.
    QScopedPointer<FakeUpdateServer> m_server;
};

} // namespace UiTest
