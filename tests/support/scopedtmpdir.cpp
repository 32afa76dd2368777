#include "scopedtmpdir.h"

#include "testmain.h"

#include <QDir>

ScopedTmpDir::ScopedTmpDir()
    : m_dir(TestMain::originalTempPath() + QStringLiteral("/vemo-test-XXXXXX"))
{
    m_hadPrevious = qEnvironmentVariableIsSet("TMPDIR");
    m_previous = qgetenv("TMPDIR");
    if (!m_dir.isValid())
        return;
    QDir().mkpath(tmpDir());
    qputenv("TMPDIR", QFile::encodeName(tmpDir()));
}

ScopedTmpDir::~ScopedTmpDir()
{
    if (m_hadPrevious)
        qputenv("TMPDIR", m_previous);
    else
        qunsetenv("TMPDIR");
}
