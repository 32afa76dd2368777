#include "treelisting.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

QStringList treeListing(const QString &root)
{
    QStringList lines;
    const QDir base(root);
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        const QString relative = base.relativeFilePath(info.filePath());
        if (info.isSymLink()) {
            lines << relative + QStringLiteral(" link ") + info.symLinkTarget();
        } else if (info.isDir()) {
            lines << relative + QStringLiteral(" dir");
        } else if (!info.isFile()) {
            lines << relative + QStringLiteral(" special"); // a FIFO is never opened
        } else {
            QFile file(info.filePath());
            QCryptographicHash hash(QCryptographicHash::Sha256);
            if (file.open(QIODevice::ReadOnly))
                hash.addData(&file);
            lines << QStringLiteral("%1 file %2 %3 %4")
                         .arg(relative)
                         .arg(info.size())
                         .arg(int(info.permissions()), 0, 16)
                         .arg(QString::fromLatin1(hash.result().toHex()));
        }
    }
    lines.sort();
    return lines;
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(content) == content.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}
