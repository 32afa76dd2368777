#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// The variable that names the temporary directory: TMPDIR, and on Windows
// TMP, the first that GetTempPath reads (Wine itself needs TMPDIR left alone).
#ifdef Q_OS_WIN
inline constexpr char TempVariable[] = "TMP";
#else
inline constexpr char TempVariable[] = "TMPDIR";
#endif

// A temporary directory for one test, with TempVariable pointing at its "tmp"
// subdirectory while it lives, so that the updater's work directory
// ($TMPDIR/vupdates/) lies inside it. The directory itself is always made
// under the temporary directory the test executable started with, and TMPDIR
// is restored when it goes away.
class ScopedTmpDir
{
public:
    ScopedTmpDir();
    ~ScopedTmpDir();

    ScopedTmpDir(const ScopedTmpDir &) = delete;
    ScopedTmpDir &operator=(const ScopedTmpDir &) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }

    // What TMPDIR holds while this object lives.
    QString tmpDir() const { return m_dir.filePath(QStringLiteral("tmp")); }
    // The updater's work directory, with its trailing slash.
    QString workDir() const { return tmpDir() + QStringLiteral("/vupdates/"); }

private:
    QTemporaryDir m_dir;
    QByteArray m_previous;
    bool m_hadPrevious = false;
};
