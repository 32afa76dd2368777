#include "scopedtmpdir.h"

#include "testmain.h"

#include <QDir>

ScopedTmpDir::ScopedTmpDir()
    : m_dir(TestMain::originalTempPath() + QStringLiteral("/vemo-test-XXXXXX"))
{
    m_hadPrevious = qEnvironmentVariableIsSet(TempVariable);
    m_previous = qgetenv(TempVariable);
    if (!m_dir.isValid())
        return;
    QDir().mkpath(tmpDir());
    qputenv(TempVariable, QFile::encodeName(tmpDir()));
}

ScopedTmpDir::~ScopedTmpDir()
{
    if (m_hadPrevious)
        qputenv(TempVariable, m_previous);
    else
        qunsetenv(TempVariable);
}
