#include "core/free_name.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

namespace {

constexpr int max_numbered_names = 10000;

} // namespace

QString numbered_name(const QString &name, int n, bool is_dir)
{
    const QString suffix = QStringLiteral(" (%1)").arg(n);
    const qsizetype dot = is_dir ? -1 : name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0)
        return name + suffix;
    return name.left(dot) + suffix + name.mid(dot);
}

Claimed_Name claim_free_name(const QString &folder, const QString &name, bool is_dir,
                             const std::function<Name_Claim(const QString &path)> &attempt)
{
    for (int n = 1; n <= max_numbered_names; ++n) {
        const QString path = folder + QLatin1Char('/') + (n == 1 ? name : numbered_name(name, n, is_dir));
        switch (attempt(path)) {
        case Name_Claim::Claimed:
            return {true, path};
        case Name_Claim::Failed:
            return {false, path};
        case Name_Claim::Taken:
            break;
        }
    }
    return {};
}

Claimed_Name claim_folder(const QString &parent, const QString &name, bool *created, QString *reason)
{
    *created = false;
    const Claimed_Name claimed = claim_free_name(parent, name, true, [&](const QString &candidate) {
        const QFileInfo info(candidate);
        if (info.isSymLink() || (info.exists() && !info.isDir()))
            return Name_Claim::Taken;
        if (info.isDir())
            return Name_Claim::Claimed;
        if (::mkdir(QFile::encodeName(candidate).constData(), 0777) == 0) {
            *created = true;
            return Name_Claim::Claimed;
        }
        if (errno != EEXIST) {
            *reason = QString::fromLocal8Bit(std::strerror(errno));
            return Name_Claim::Failed;
        }
        // Another run made it just now: shared like any existing folder.
        const QFileInfo now(candidate);
        return now.isDir() && !now.isSymLink() ? Name_Claim::Claimed : Name_Claim::Taken;
    });
    if (!claimed.ok && claimed.path.isEmpty())
        *reason = QStringLiteral("no free name");
    return claimed;
}
