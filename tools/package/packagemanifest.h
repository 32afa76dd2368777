#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

// The manifest of an update package: a "package" element naming the
// component (project, name, type) and one "file" element per file that the
// installation adds, removes, or only backs up.
class PackageManifest
{
public:
    // Patch: the entry is a zstd frame that turns the installed file (of
    // fromSize bytes, SHA-256 fromSha256) into the new one (size, sha256).
    enum Action { Add, Remove, Keep, Patch };

    struct File
    {
        QString path; // directory relative to the install root, may be empty
        QString name;
        Action action = Add;
        qint64 fromSize = 0;
        QByteArray fromSha256; // lowercase hex
        qint64 size = 0;
        QByteArray sha256;
    };

    PackageManifest() = default;
    PackageManifest(const QString &project, const QString &name, const QString &type);

    QString project() const { return m_project; }
    QString name() const { return m_name; }
    QString type() const { return m_type; }

    void addFile(const File &file) { m_files.append(file); }
    QVector<File> files() const { return m_files; }

    QByteArray toXml() const;

    // Splits "PATH:NAME" at its first colon; PATH may be empty, NAME may not.
    static bool parseFileArgument(const QString &argument, Action action, File *file, QString *error);

private:
    QString m_project;
    QString m_name;
    QString m_type;
    QVector<File> m_files;
};
