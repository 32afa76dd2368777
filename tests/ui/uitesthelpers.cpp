#include "uitesthelpers.h"

#include "buildconfig.h"
#include "fakeprogram.h"
#include "fakeupdateserver.h"
#include "testmain.h"
#include "treelisting.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QHostAddress>
#include <QTest>
#include <QTimer>
#include <QWidget>

namespace UiTest {

QList<QWidget *> openWindows(const QString &objectName)
{
    QList<QWidget *> windows;
    const QList<QWidget *> topLevels = QApplication::topLevelWidgets();
    for (QWidget *widget : topLevels) {
        if (widget->isVisible() && widget->objectName() == objectName)
            windows.append(widget);
    }
    return windows;
}

QWidget *openWindow(const QString &objectName)
{
    const QList<QWidget *> windows = openWindows(objectName);
    return windows.size() == 1 ? windows.first() : nullptr;
}

void closeAllWindows()
{
    QApplication::closeAllWindows();
    // A widget deleted on close schedules its controller's deletion in turn,
    // so two rounds are needed.
    for (int round = 0; round < 3; ++round) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
}

bool activate(QWidget *window)
{
    window->activateWindow();
    return QTest::qWaitForWindowActive(window);
}

void pressKey(QWidget *window, Qt::Key key)
{
    QWidget *target = window->focusWidget() ? window->focusWidget() : window;
    QTest::keyClick(target, key);
}

int runEventLoop(const std::function<void()> &action, int timeoutMs)
{
    QObject context;
    QTimer fallback;
    fallback.setSingleShot(true);
    QObject::connect(&fallback, &QTimer::timeout, &context, [] { QCoreApplication::exit(99); });
    fallback.start(timeoutMs);
    QTimer::singleShot(0, &context, action);
    return QCoreApplication::exec();
}

WindowTestCase::WindowTestCase() = default;
WindowTestCase::~WindowTestCase() = default;

void WindowTestCase::initTestCase()
{
    m_server.reset(new FakeUpdateServer);
    QVERIFY(m_server->listen(QHostAddress(QStringLiteral(VEMO_UPDATE_HOST)), VEMO_UPDATE_PORT));
}

void WindowTestCase::cleanupTestCase()
{
    m_server.reset();
}

void WindowTestCase::cleanup()
{
    closeAllWindows();
}

bool makeInstallation(const QString &dir)
{
    const QString messenger = dir + QStringLiteral("/vemo7.exe");
    return FakeProgram::write(messenger, FakeProgram::Messenger);
}

} // namespace UiTest
