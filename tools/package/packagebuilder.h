#pragma once

#include "packagemanifest.h"
#include "zipwriter.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Builds an update package: a zip archive holding every file below a folder
// plus the manifest, stored as the entry the updater derives from the
// package's URL path ("/dir/pkg.zip" gives "dir/pkg.xml"). Files are
// streamed into the archive; the archive is written under a temporary name
// beside the output and renamed into place only when it is complete.
class PackageBuilder
{
public:
    PackageBuilder(const QString &folder, const QString &outputPath);

    // The path of the package's download URL; "/" + the output's file name
    // when not set.
    void setUrlPath(const QString &urlPath) { m_urlPath = urlPath; }
    void setMethod(ZipWriter::Method method) { m_method = method; }
    // Uses the given manifest document as it stands.
    void setManifest(const QByteArray &xml);
    // Generates the manifest: the identity and entries of base, after an
    // "add" entry for every file of the folder.
    void setGeneratedManifest(const PackageManifest &base);

    bool build();
    QString errorString() const { return m_error; }

    // Entries written by the last successful build: the manifest first, then
    // the files of the folder in name order.
    QStringList entryNames() const { return m_entries; }

    // The archive entry name of the manifest for a URL path, or an empty
    // string (with the reason in error) when the path cannot name a package.
    static QString manifestEntryName(const QString &urlPath, QString *error);

private:
    bool collectFiles(QStringList *files);
    bool checkOutput(QString *outputDir);
    bool writeArchive(const QString &path, const QStringList &files, const QString &manifestName,
                      const QByteArray &manifest);

    QString m_folder;
    QString m_outputPath;
    QString m_urlPath;
    ZipWriter::Method m_method = ZipWriter::Deflated;
    bool m_generate = true;
    QByteArray m_manifest;
    PackageManifest m_base;
    QStringList m_entries;
    QString m_error;
};
