#pragma once

#include "packagemanifest.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

// The command line of vemo-package. Parsed by hand because the order of the
// --add, --remove and --keep options is the order of the manifest entries.
class PackageCommandLine
{
public:
    enum Command { Help, Manifest, Build, Delta };

    // arguments without the program name.
    bool parse(const QStringList &arguments);
    QString errorString() const { return m_error; }

    Command command() const { return m_command; }
    QString value(const QString &option) const { return m_values.value(option); }
    bool isSet(const QString &option) const { return m_set.contains(option); }
    QVector<PackageManifest::File> files() const { return m_files; }

    static QString usage();

private:
    bool takeOption(const QString &option, const QString &value);
    bool checkCombination();

    Command m_command = Help;
    QHash<QString, QString> m_values;
    QSet<QString> m_set;
    QVector<PackageManifest::File> m_files;
    QString m_error;
};
