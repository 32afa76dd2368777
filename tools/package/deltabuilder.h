#pragma once

#include "packagemanifest.h"

#include <QString>
#include <QTemporaryDir>

#include <memory>

// Builds a delta package from two versions of a component, each a folder
// or a package: per file of the new version the smallest of "not at all"
// (unchanged), a "patch" row whose entry is a zstd frame made with the old
// file as prefix, or an "add" row with the file whole (deflated in the zip,
// chosen when the frame is not smaller); a "remove" row for every file that
// the new version lacks. The format is described in tools/README.md.
class DeltaBuilder
{
public:
    DeltaBuilder(const QString &from, const QString &to, const QString &outputPath);

    // The identity of the package; taken from the new version's manifest
    // when it is a package and these are not given.
    void setIdentity(const QString &project, const QString &name, const QString &type);
    void setUrlPath(const QString &urlPath) { m_urlPath = urlPath; }
    // zstd's compression level for the frames (19 by default).
    void setLevel(int level) { m_level = level; }

    bool build();
    QString errorString() const { return m_error; }

    struct Counts
    {
        int unchanged = 0;
        int patched = 0;
        int added = 0;
        int removed = 0;
    };
    Counts counts() const { return m_counts; }
    // The identity the package got.
    QString project() const { return m_project; }
    QString name() const { return m_name; }
    QString type() const { return m_type; }

    // A zstd frame of newFile with oldFile as its prefix, written to frame.
    static bool makeFrame(const QString &oldFile, const QString &newFile, const QString &frame,
                          int level, QString *error);

private:
    struct Version
    {
        QString folder;
        std::unique_ptr<QTemporaryDir> unpacked;
        PackageManifest manifest; // identity of a package
        bool isPackage = false;
    };
    bool open(const QString &path, Version *version);
    bool stage(const QString &staging, PackageManifest *manifest);

    QString m_from;
    QString m_to;
    QString m_outputPath;
    QString m_urlPath;
    QString m_project;
    QString m_name;
    QString m_type;
    int m_level = 19;
    Version m_old;
    Version m_new;
    Counts m_counts;
    QString m_error;
};
