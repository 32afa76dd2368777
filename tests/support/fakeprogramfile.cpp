#include "fakeprogram.h"

#include "treelisting.h"

#include <QFile>

namespace FakeProgram {

QByteArray bytes(const QByteArray &script)
{
    static const QByteArray program = [] {
        QFile file(QStringLiteral(VEMO_FAKE_PROGRAM));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    Q_ASSERT(!program.isEmpty());
    return program + script + TrailerStart + QByteArray::number(script.size()).rightJustified(10, '0')
           + '\n';
}

bool write(const QString &path, const QByteArray &script)
{
    return writeFile(path, bytes(script))
           && QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner);
}

} // namespace FakeProgram
