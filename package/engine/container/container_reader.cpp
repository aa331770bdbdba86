#include "container_reader.h"

#include "container/container_source.h"
#include "unpack/extraction_rules.h"

#include <QFileInfo>

#include <vector>

namespace {

// The container opened as the archive it holds, or nullptr with a reason.
Zip_Ptr open_container(const QString &path, int flags, QString *reason)
{
    const QFileInfo info(path);
    if (info.isFile() && info.size() == 0) {
        *reason = QStringLiteral("the container is empty");
        return nullptr;
    }
    QString why;
    zip_source_t *source = create_container_source(path, &why);
    if (!source) {
        *reason = QStringLiteral("cannot open: %1").arg(why);
        return nullptr;
    }
    return open_zip_source(source, ZIP_RDONLY | flags, reason);
}

void read_entries(zip_t *za, QList<Container_Entry> *entries, QStringList *damaged)
{
    const zip_int64_t count = zip_get_num_entries(za, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        const char *raw = zip_get_name(za, zip_uint64_t(i), ZIP_FL_ENC_RAW);
        if (!raw || zip_stat_index(za, zip_uint64_t(i), ZIP_FL_ENC_RAW, &st) < 0) {
            damaged->append(QStringLiteral("entry %1: %2").arg(i).arg(QString::fromUtf8(zip_strerror(za))));
            continue;
        }
        Container_Entry e;
        e.name = decode_entry_name(QByteArray(raw)).replace(QLatin1Char('\\'), QLatin1Char('/'));
        zip_uint8_t opsys = 0;
        zip_uint32_t attributes = 0;
        if (zip_file_get_external_attributes(za, zip_uint64_t(i), 0, &opsys, &attributes) == 0
            && opsys == ZIP_OPSYS_UNIX)
            e.is_dir = ((attributes >> 16) & 0170000) == 0040000;
        e.is_dir = e.is_dir || e.name.endsWith(QLatin1Char('/'));
        if (e.is_dir && !e.name.endsWith(QLatin1Char('/')))
            e.name += QLatin1Char('/');
        e.size = (st.valid & ZIP_STAT_SIZE) ? qint64(st.size) : 0;
        if (st.valid & ZIP_STAT_MTIME)
            e.modified = QDateTime::fromSecsSinceEpoch(qint64(st.mtime));
        entries->append(e);
    }
}

} // namespace

bool list_container(const QString &container_path, QList<Container_Entry> *entries, QString *reason)
{
    const Zip_Ptr za = open_container(container_path, 0, reason);
    if (!za)
        return false;
    QStringList unreadable;
    read_entries(za.get(), entries, &unreadable);
    if (!unreadable.isEmpty()) {
        *reason = unreadable.join(QStringLiteral("; "));
        return false;
    }
    return true;
}

bool test_container(const QString &container_path, QStringList *damaged, QString *reason)
{
    // A test also checks that the central directory agrees with the entries.
    const Zip_Ptr za = open_container(container_path, ZIP_CHECKCONS, reason);
    if (!za)
        return false;
    QList<Container_Entry> entries;
    read_entries(za.get(), &entries, damaged);
    std::vector<char> buffer(256 * 1024);
    // libzip checks each entry's CRC once the entry has been read to its end.
    const zip_int64_t count = zip_get_num_entries(za.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char *raw = zip_get_name(za.get(), zip_uint64_t(i), ZIP_FL_ENC_RAW);
        if (!raw)
            continue; // already named by read_entries
        const QString name = decode_entry_name(QByteArray(raw));
        const Zip_File_Ptr file(zip_fopen_index(za.get(), zip_uint64_t(i), 0));
        if (!file) {
            damaged->append(QStringLiteral("%1: %2").arg(name, QString::fromUtf8(zip_strerror(za.get()))));
            continue;
        }
        zip_int64_t n;
        while ((n = zip_fread(file.get(), buffer.data(), buffer.size())) > 0) {
        }
        if (n < 0)
            damaged->append(QStringLiteral("%1: %2").arg(name, QString::fromUtf8(zip_file_strerror(file.get()))));
    }
    return true;
}
