#include "zip_packer.h"

QString numbered_name(const QString &name, int n, bool is_dir)
{
    const QString suffix = QStringLiteral(" (%1)").arg(n);
    const qsizetype dot = is_dir ? -1 : name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0)
        return name + suffix;
    return name.left(dot) + suffix + name.mid(dot);
}
