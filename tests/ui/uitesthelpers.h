#pragma once

#include <QList>
#include <QObject>
#include <QScopedPointer>
#include <QString>
#include <QTranslator>

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

// Runs the application's event loop, calls 'action' from inside it, and
// returns the loop's result once it ends. A loop still running after
// 'timeoutMs' is ended with the result 99, so a test fails instead of hanging.
int runEventLoop(const std::function<void()> &action, int timeoutMs = 10000);

// The Polish catalogue from the resources, installed for the lifetime of the
// object.
class PolishCatalogue
{
public:
    PolishCatalogue();
    ~PolishCatalogue();

    PolishCatalogue(const PolishCatalogue &) = delete;
    PolishCatalogue &operator=(const PolishCatalogue &) = delete;

    bool isInstalled() const { return m_installed; }

private:
    QTranslator m_translator;
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
