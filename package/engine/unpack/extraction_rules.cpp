#include "unpack/extraction_rules.h"

#include <QDir>
#include <QStringDecoder>
#include <QStringList>

namespace {

bool is_inside(const QString &root, const QString &path)
{
    const QStringList r = QDir::cleanPath(root).split(QLatin1Char('/'));
    const QStringList p = QDir::cleanPath(path).split(QLatin1Char('/'));
    if (p.size() <= r.size())
        return false;
    for (qsizetype i = 0; i < r.size(); ++i)
        if (r[i] != p[i])
            return false;
    return true;
}

Archive_Entry entry_at(zip_t *za, zip_uint64_t index, const char *raw, const zip_stat_t &st)
{
    Archive_Entry e;
    e.index = index;
    e.name = decode_entry_name(QByteArray(raw));
    zip_uint8_t opsys = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(za, e.index, 0, &opsys, &attributes) == 0 && opsys == ZIP_OPSYS_UNIX) {
        const quint32 mode = attributes >> 16;
        e.mode = mode & 0777; // never set-uid, set-gid or sticky
        e.is_link = (mode & 0170000) == 0120000;
        e.is_dir = (mode & 0170000) == 0040000;
    }
    e.is_dir = e.is_dir || QString(e.name).replace(QLatin1Char('\\'), QLatin1Char('/')).endsWith(QLatin1Char('/'));
    e.size = (st.valid & ZIP_STAT_SIZE) ? qint64(st.size) : 0;
    e.comp_size = (st.valid & ZIP_STAT_COMP_SIZE) ? qint64(st.comp_size) : e.size;
    e.mtime = (st.valid & ZIP_STAT_MTIME) ? qint64(st.mtime) : -1;
    e.relative = safe_relative_path(e.name);
    return e;
}

// A bare "./" folder is harmless; anything else unsafe is refused.
bool is_harmless(const Archive_Entry &e)
{
    const QString slashed = QString(e.name).replace(QLatin1Char('\\'), QLatin1Char('/'));
    return e.is_dir && !slashed.contains(QStringLiteral("..")) && !slashed.startsWith(QLatin1Char('/'))
           && !slashed.contains(QLatin1Char(':'));
}

} // namespace

QString decode_entry_name(const QByteArray &raw)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString as_utf8 = utf8.decode(raw);
    if (!utf8.hasError())
        return as_utf8;
    QStringDecoder gbk("GBK", QStringDecoder::Flag::Stateless);
    if (gbk.isValid()) {
        const QString as_gbk = gbk.decode(raw);
        if (!gbk.hasError())
            return as_gbk;
    }
    return as_utf8; // replacement characters mark what could not be read
}

QString safe_relative_path(const QString &name)
{
    QString n = name;
    n.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (n.contains(QChar(0)) || n.startsWith(QLatin1Char('/')))
        return QString();
    if (n.size() >= 2 && n.at(1) == QLatin1Char(':'))
        return QString(); // a drive letter
    QStringList parts;
    for (const QString &part : n.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String(".."))
            return QString();
        parts.append(part);
    }
    return parts.join(QLatin1Char('/'));
}

// Backslashes count as separators here, as they would on Windows. A ".."
// after a name is refused: the name may be another link, and climbing out of
// a link's target is not what the lexical reading assumes.
bool link_target_is_safe(const QString &destination, const QString &folder, const QString &target)
{
    const QString slashed = QString(target).replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (target.isEmpty() || target.contains(QChar(0)) || QDir::isAbsolutePath(target)
        || slashed.startsWith(QLatin1Char('/')) || (slashed.size() >= 2 && slashed.at(1) == QLatin1Char(':')))
        return false;
    bool named = false;
    for (const QString &part : slashed.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("..") && named)
            return false;
        named = named || (part != QLatin1String(".") && part != QLatin1String(".."));
    }
    return is_inside(destination, folder + QLatin1Char('/') + slashed);
}

std::vector<Archive_Entry> read_safe_entries(zip_t *za, const QString &destination,
                                             const std::function<void(const QString &)> &report,
                                             qint64 *comp_total)
{
    std::vector<Archive_Entry> entries;
    const zip_int64_t count = zip_get_num_entries(za, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        const char *raw = zip_get_name(za, zip_uint64_t(i), ZIP_FL_ENC_RAW);
        if (!raw || zip_stat_index(za, zip_uint64_t(i), ZIP_FL_ENC_RAW, &st) < 0) {
            report(QStringLiteral("entry %1: %2").arg(i).arg(QString::fromUtf8(zip_strerror(za))));
            continue;
        }
        Archive_Entry e = entry_at(za, zip_uint64_t(i), raw, st);
        *comp_total += e.comp_size;
        if (e.relative.isEmpty() || !is_inside(destination, destination + QLatin1Char('/') + e.relative)) {
            if (!is_harmless(e))
                report(QStringLiteral("%1: unsafe name (outside the destination); not extracted").arg(e.name));
            continue;
        }
        entries.push_back(std::move(e));
    }
    return entries;
}
