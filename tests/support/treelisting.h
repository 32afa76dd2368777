#pragma once

#include <QString>
#include <QStringList>

// A sorted listing of everything below a directory, one line per entry:
// relative path, kind, size, permissions and SHA-256 of the content. Two
// listings compare equal exactly when the trees hold the same files with the
// same bytes.
QStringList treeListing(const QString &root);

// Writes a file with the given content, creating its directory.
bool writeFile(const QString &path, const QByteArray &content);
QByteArray readFile(const QString &path);
