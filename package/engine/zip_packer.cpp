#include "zip_packer.h"

#include "deflate_codec.h"
#include "free_name.h"
#include "job_control.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QThread>

#include <zip.h>
#include <zlib.h>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace {

constexpr int deflate_level = 6;
constexpr qint64 sample_size = 64 * 1024;
constexpr qint64 read_block = 256 * 1024;
// How far the deflating threads may run ahead of libzip's writer. Together
// with the per-thread buffers this keeps memory flat whatever the input.
constexpr qint64 ahead_budget = 32 * 1024 * 1024;

quint32 unix_mode_of(const QFileInfo &info, bool is_dir)
{
    const QFile::Permissions p = info.permissions();
    quint32 mode = is_dir ? 0040000u : 0100000u;
    if (p & QFile::ReadOwner) mode |= 0400;
    if (p & QFile::WriteOwner) mode |= 0200;
    if (p & QFile::ExeOwner) mode |= 0100;
    if (p & QFile::ReadGroup) mode |= 0040;
    if (p & QFile::WriteGroup) mode |= 0020;
    if (p & QFile::ExeGroup) mode |= 0010;
    if (p & QFile::ReadOther) mode |= 0004;
    if (p & QFile::WriteOther) mode |= 0002;
    if (p & QFile::ExeOther) mode |= 0001;
    return mode;
}

// Deflating random data costs time and gains nothing: a quick look at the
// file's start tells media and archives from text.
bool looks_compressible(const QString &path, qint64 size)
{
    if (size < sample_size)
        return true;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return true; // the read error is reported when the file is packed
    const QByteArray sample = file.read(sample_size);
    if (sample.isEmpty())
        return true;
    return quick_compressed_size(sample.constData(), sample.size()) * 100 < qint64(sample.size()) * 95;
}

QString changed_reason(const QString &path)
{
    return QStringLiteral("%1: the file changed while it was packed; pack it again when it is left alone").arg(path);
}

#ifdef Q_OS_UNIX
qint64 ns_of(const struct timespec &t)
{
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}
#endif

// Size, modification time and identity of the file (links followed) as planned.
void stamp_entry(const QFileInfo &target, const QString &path, Pack_Entry *e)
{
    e->size = target.size();
    e->mtime = target.lastModified().toSecsSinceEpoch();
    e->mtime_ns = target.lastModified().toMSecsSinceEpoch() * 1000000;
#ifdef Q_OS_UNIX
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
        e->size = st.st_size;
        e->mtime = st.st_mtim.tv_sec;
        e->mtime_ns = ns_of(st.st_mtim);
        e->inode = st.st_ino;
    }
#else
    Q_UNUSED(path);
#endif
}

// The open file is still the one planned, with the planned size and time.
bool unchanged(const QFile &file, const Pack_Entry &e)
{
#ifdef Q_OS_UNIX
    struct stat st;
    return ::fstat(file.handle(), &st) == 0 && st.st_size == e.size && ns_of(st.st_mtim) == e.mtime_ns
           && quint64(st.st_ino) == e.inode;
#else
    const QFileInfo now(e.source_path);
    return file.size() == e.size && now.lastModified().toMSecsSinceEpoch() * 1000000 == e.mtime_ns;
#endif
}

// A link's own target text, as a link entry stores it.
QByteArray link_target_of(const QString &path)
{
#ifdef Q_OS_UNIX
    QByteArray target(4096, Qt::Uninitialized);
    const ssize_t n = ::readlink(QFile::encodeName(path).constData(), target.data(), size_t(target.size()));
    target.truncate(n > 0 && n < target.size() ? qsizetype(n) : 0);
    return target;
#else
    const QFileInfo info(path);
    return QFile::encodeName(QDir(info.absolutePath()).relativeFilePath(info.symLinkTarget()));
#endif
}

QString special_kind(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) == 0) {
        if (S_ISSOCK(st.st_mode))
            return QStringLiteral("socket");
        if (S_ISFIFO(st.st_mode))
            return QStringLiteral("pipe");
        if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
            return QStringLiteral("device");
    }
#else
    Q_UNUSED(path);
#endif
    return QStringLiteral("special file");
}

class Planner
{
public:
    Planner(QStringList *errors, Job_Control *control) : errors(errors), control(control) {}

    Pack_Plan plan;

    void add_top(const QString &path)
    {
        const QFileInfo info(path);
        if (!info.exists()) {
            errors->append(QStringLiteral("%1: no such file or folder").arg(path));
            return;
        }
        // A chosen folder is followed even when it is itself a link: the user picked it.
        const bool is_dir = info.isDir();
        if (!is_dir && !info.isFile()) {
            errors->append(QStringLiteral("%1: not a regular file or folder").arg(path));
            return;
        }
        QString name = is_dir ? QDir(info.absoluteFilePath()).dirName() : info.fileName();
        if (name.isEmpty())
            name = QStringLiteral("root");
        QString unique = name;
        for (int n = 2; root_names.contains(unique); ++n)
            unique = numbered_name(name, n, is_dir);
        root_names.insert(unique);
        if (is_dir)
            add_folder(info, unique);
        else
            add_file(info, unique);
    }

private:
    QStringList *errors;
    Job_Control *control;
    QSet<QString> root_names;

    void add_file(const QFileInfo &info, const QString &name)
    {
        const QFileInfo target = info.isSymLink() ? QFileInfo(info.symLinkTarget()) : info;
        if (!target.isFile()) {
            plan.warnings.append(QStringLiteral("%1: left out: a %2 cannot be packed")
                                     .arg(info.filePath(), special_kind(info.filePath())));
            return;
        }
        if (!target.isReadable()) {
            errors->append(QStringLiteral("%1: cannot read the file (permission denied)").arg(info.filePath()));
            return;
        }
        Pack_Entry e;
        e.source_path = info.filePath();
        e.name = name.toUtf8();
        stamp_entry(target, e.source_path, &e);
        e.unix_mode = unix_mode_of(target, false);
        e.deflate = e.size > 0 && looks_compressible(e.source_path, e.size);
        plan.total_bytes += e.size;
        if (e.deflate)
            plan.deflate_bytes += e.size;
        plan.entries.push_back(std::move(e));
    }

    // Stored as the link itself (Unix link mode, the target as content), as zip -y does.
    void add_link(const QFileInfo &info, const QString &name)
    {
        Pack_Entry e;
        e.name = name.toUtf8();
        e.is_link = true;
        e.link_target = link_target_of(info.filePath());
        if (e.link_target.isEmpty()) {
            errors->append(QStringLiteral("%1: cannot read the link").arg(info.filePath()));
            return;
        }
        e.size = e.link_target.size();
        e.unix_mode = 0120777;
#ifdef Q_OS_UNIX
        struct stat st;
        if (::lstat(QFile::encodeName(info.filePath()).constData(), &st) == 0)
            e.mtime = st.st_mtim.tv_sec;
#endif
        plan.entries.push_back(std::move(e));
    }

    void add_folder(const QFileInfo &info, const QString &name)
    {
        if (control && control->is_cancelled())
            return;
        Pack_Entry e;
        e.name = (name + QLatin1Char('/')).toUtf8();
        e.is_dir = true;
        e.mtime = info.lastModified().toSecsSinceEpoch();
        e.unix_mode = unix_mode_of(info, true);
        plan.entries.push_back(std::move(e));

        if (!info.isReadable() || !info.isExecutable()) {
            errors->append(QStringLiteral("%1: cannot read the folder (permission denied)").arg(info.filePath()));
            return;
        }
        const QDir dir(info.filePath());
        const QFileInfoList children = dir.entryInfoList(
            QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
        for (const QFileInfo &child : children) {
            const QString child_name = name + QLatin1Char('/') + child.fileName();
            if (child.isSymLink()) {
                // Only links to files are followed: other links are stored as
                // links, which keeps out anything from outside the chosen
                // items and rules out loops.
                if (QFileInfo(child.symLinkTarget()).isFile())
                    add_file(child, child_name);
                else
                    add_link(child, child_name);
            } else if (child.isDir()) {
                add_folder(child, child_name);
            } else {
                add_file(child, child_name);
            }
        }
    }
};

// One piece of a deflated file on its way from a worker thread to libzip's
// writer. Big files are cut into segments deflated side by side; each segment
// but the last ends on a byte boundary (sync flush), so the pieces join into
// one deflate stream. No segment looks back into the one before: what it
// holds decodes to exactly the bytes its checksum covers, even when the file
// changes under it.
struct Segment
{
    std::deque<QByteArray> blocks;
    qint64 front_offset = 0;
    bool finished = false;
    bool failed = false;
    QString error;
    quint32 crc = 0;
    qint64 in_size = 0;
};

struct Stream
{
    std::vector<Segment> segments;
    size_t first_item = 0;
    size_t current = 0; // segment the writer reads now
};

struct Work_Item
{
    int job = 0;
    size_t segment = 0;
    qint64 offset = 0;
    qint64 length = 0; // as planned; a file that ends sooner has changed
    bool last = true;
};

// Deflates files on worker threads, in archive order, into bounded queues that
// libzip's writer drains from within zip_close on the pipeline's thread.
class Deflate_Pool
{
public:
    Deflate_Pool(std::vector<const Pack_Entry *> jobs, Job_Control *control)
        : jobs(std::move(jobs)), streams(this->jobs.size()), control(control)
    {
        for (size_t j = 0; j < this->jobs.size(); ++j) {
            const qint64 size = this->jobs[j]->size;
            const qint64 count = size > segment_size ? (size + segment_size - 1) / segment_size : 1;
            streams[j].first_item = items.size();
            streams[j].segments.resize(size_t(count));
            for (qint64 s = 0; s < count; ++s)
                items.push_back({int(j), size_t(s), s * segment_size,
                                 s == count - 1 ? size - s * segment_size : segment_size, s == count - 1});
        }
    }

    ~Deflate_Pool() { stop(); }

    void start()
    {
        const int n = qBound(1, QThread::idealThreadCount(), 4);
        for (int i = 0; i < n && size_t(i) < items.size(); ++i)
            threads.emplace_back([this] { work(); });
    }

    void stop()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        producer_wait.notify_all();
        consumer_wait.notify_all();
        for (std::thread &t : threads)
            t.join();
        threads.clear();
    }

    void begin(int job)
    {
        std::lock_guard<std::mutex> lock(mutex);
        streams[size_t(job)].current = 0;
        head = streams[size_t(job)].first_item;
        producer_wait.notify_all();
    }

    // Blocks until data, the stream's end (0) or a failure (-1, with reason).
    qint64 read(int job, char *out, qint64 length, QString *error)
    {
        std::unique_lock<std::mutex> lock(mutex);
        Stream &stream = streams[size_t(job)];
        for (;;) {
            Segment &s = stream.segments[stream.current];
            if (!s.blocks.empty()) {
                QByteArray &front = s.blocks.front();
                const qint64 n = qMin(length, qint64(front.size()) - s.front_offset);
                memcpy(out, front.constData() + s.front_offset, size_t(n));
                s.front_offset += n;
                if (s.front_offset == front.size()) {
                    buffered -= front.size();
                    s.blocks.pop_front();
                    s.front_offset = 0;
                    producer_wait.notify_all();
                }
                return n;
            }
            if (s.failed) {
                *error = s.error;
                return -1;
            }
            if (s.finished) {
                if (stream.current + 1 == stream.segments.size()) {
                    // The pieces together must be the whole planned file.
                    qint64 total = 0;
                    for (const Segment &piece : stream.segments)
                        total += piece.in_size;
                    if (total == jobs[size_t(job)]->size)
                        return 0;
                    *error = changed_reason(jobs[size_t(job)]->source_path);
                    return -1;
                }
                ++stream.current;
                head = stream.first_item + stream.current;
                producer_wait.notify_all();
                continue;
            }
            if (control && control->is_cancelled()) {
                *error = QStringLiteral("Cancelled");
                return -1;
            }
            consumer_wait.wait_for(lock, std::chrono::milliseconds(50));
        }
    }

    // The whole file's checksum and size, once every segment is through.
    bool result(int job, quint32 *crc, qint64 *size)
    {
        std::lock_guard<std::mutex> lock(mutex);
        uLong total_crc = crc32(0, nullptr, 0);
        qint64 total = 0;
        for (const Segment &s : streams[size_t(job)].segments) {
            if (!s.finished || s.failed)
                return false;
            total_crc = crc32_combine(total_crc, s.crc, z_off_t(s.in_size));
            total += s.in_size;
        }
        if (total != jobs[size_t(job)]->size)
            return false;
        *crc = quint32(total_crc);
        *size = total;
        return true;
    }

private:
    static constexpr qint64 segment_size = deflate_piece_size;

    std::vector<const Pack_Entry *> jobs;
    std::vector<Stream> streams;
    std::vector<Work_Item> items;
    Job_Control *control;
    std::vector<std::thread> threads;
    std::mutex mutex;
    std::condition_variable producer_wait;
    std::condition_variable consumer_wait;
    std::atomic<size_t> next_item{0};
    size_t head = 0;
    qint64 buffered = 0;
    bool stopping = false;

    bool cancelled() const { return control && control->is_cancelled(); }

    Segment &segment_of(const Work_Item &item) { return streams[size_t(item.job)].segments[item.segment]; }

    void work()
    {
        for (;;) {
            const size_t item = next_item.fetch_add(1);
            if (item >= items.size())
                return;
            if (!deflate_item(item))
                return;
        }
    }

    // Hands a block to the writer; waits while too much is queued, except for
    // the segment the writer is reading now, which must always make progress.
    bool push(size_t item, QByteArray block)
    {
        std::unique_lock<std::mutex> lock(mutex);
        producer_wait.wait(lock, [&] { return stopping || item <= head || buffered < ahead_budget; });
        if (stopping)
            return false;
        buffered += block.size();
        segment_of(items[item]).blocks.push_back(std::move(block));
        consumer_wait.notify_all();
        return true;
    }

    void fail(size_t item, const QString &reason)
    {
        std::lock_guard<std::mutex> lock(mutex);
        segment_of(items[item]).failed = true;
        segment_of(items[item]).error = reason;
        consumer_wait.notify_all();
    }

    bool deflate_item(size_t item_index)
    {
        const Work_Item item = items[item_index];
        const Pack_Entry &entry = *jobs[size_t(item.job)];
        QFile file(entry.source_path);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
            fail(item_index, QStringLiteral("%1: %2").arg(entry.source_path, file.errorString()));
            return true;
        }
        if (!unchanged(file, entry)) {
            fail(item_index, changed_reason(entry.source_path));
            return true;
        }
        Piece_Deflater z(deflate_level);
        if (!z.is_ready()) {
            fail(item_index, QStringLiteral("%1: cannot start compression").arg(entry.source_path));
            return true;
        }
        std::unique_ptr<char[]> in(new char[read_block]);
        bool ok = file.seek(item.offset);
        QString reason = ok ? QString() : QStringLiteral("%1: %2").arg(entry.source_path, file.errorString());
        quint32 crc = 0;
        qint64 in_size = 0;
        for (bool end = false; !end && ok;) {
            if (cancelled()) {
                ok = false;
                reason = QStringLiteral("Cancelled");
                break;
            }
            const qint64 want = qMin(read_block, item.length - in_size);
            const qint64 n = file.read(in.get(), want);
            if (n <= 0) {
                ok = false;
                reason = n < 0 ? QStringLiteral("%1: %2").arg(entry.source_path, file.errorString())
                               : changed_reason(entry.source_path); // it ends sooner than planned
                break;
            }
            end = in_size + n == item.length;
            crc = checksum_update(crc, in.get(), n);
            in_size += n;
            bool taken = true;
            ok = z.add(in.get(), n, end, item.last,
                       [&](QByteArray block) { return taken = push(item_index, std::move(block)); });
            if (!ok && taken)
                reason = QStringLiteral("%1: cannot compress").arg(entry.source_path);
            if (control)
                control->add_done(n);
        }
        if (ok && !unchanged(file, entry)) {
            ok = false;
            reason = changed_reason(entry.source_path);
        }
        if (!ok) {
            if (reason.isEmpty())
                return false; // stopping: the writer has given up
            fail(item_index, reason);
            return true;
        }
        std::lock_guard<std::mutex> lock(mutex);
        Segment &s = segment_of(item);
        s.crc = quint32(crc);
        s.in_size = in_size;
        s.finished = true;
        consumer_wait.notify_all();
        return true;
    }
};

// The writer's side of one entry: stored files are read here, deflated ones
// come from the pool with their compression already done.
struct Entry_Source
{
    const Pack_Entry *entry = nullptr;
    Deflate_Pool *pool = nullptr;
    int job = -1;
    Job_Control *control = nullptr;
    QString *first_error = nullptr;
    QFile file;
    qint64 read_so_far = 0;
    zip_error_t error;

    Entry_Source() { zip_error_init(&error); }
    ~Entry_Source() { zip_error_fini(&error); }

    void set_failure(int code, const QString &reason)
    {
        zip_error_set(&error, code, 0);
        if (first_error->isEmpty())
            *first_error = reason;
    }
};

zip_int64_t entry_callback(void *state, void *data, zip_uint64_t length, zip_source_cmd_t command)
{
    auto *s = static_cast<Entry_Source *>(state);
    switch (command) {
    case ZIP_SOURCE_OPEN:
        if (s->pool) {
            s->pool->begin(s->job);
            return 0;
        }
        s->file.setFileName(s->entry->source_path);
        if (!s->file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
            s->set_failure(ZIP_ER_OPEN, QStringLiteral("%1: %2").arg(s->entry->source_path, s->file.errorString()));
            return -1;
        }
        s->read_so_far = 0;
        if (!unchanged(s->file, *s->entry)) {
            s->set_failure(ZIP_ER_READ, changed_reason(s->entry->source_path));
            return -1;
        }
        return 0;
    case ZIP_SOURCE_READ: {
        if (s->control && s->control->is_cancelled()) {
            s->set_failure(ZIP_ER_CANCELLED, QStringLiteral("Cancelled"));
            return -1;
        }
        const qint64 want = qint64(qMin<zip_uint64_t>(length, 1u << 30));
        if (s->pool) {
            QString reason;
            const qint64 n = s->pool->read(s->job, static_cast<char *>(data), want, &reason);
            if (n < 0) {
                s->set_failure(ZIP_ER_READ, reason);
                return -1;
            }
            if (s->control)
                s->control->report_progress();
            return n;
        }
        // Exactly the planned size, and the file as planned before and after;
        // at the planned end one more byte is asked for, which must not come.
        const qint64 left = s->entry->size - s->read_so_far;
        const qint64 n = s->file.read(static_cast<char *>(data), left > 0 ? qMin(want, left) : 1);
        if (n < 0) {
            s->set_failure(ZIP_ER_READ, QStringLiteral("%1: %2").arg(s->entry->source_path, s->file.errorString()));
            return -1;
        }
        if ((n == 0) != (left == 0) || (n == left && !unchanged(s->file, *s->entry))) {
            s->set_failure(ZIP_ER_READ, changed_reason(s->entry->source_path));
            return -1;
        }
        s->read_so_far += n;
        if (s->control)
            s->control->advance(n);
        return n;
    }
    case ZIP_SOURCE_CLOSE:
        s->file.close();
        return 0;
    case ZIP_SOURCE_STAT: {
        zip_stat_t *st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &s->error);
        if (!st)
            return -1;
        zip_stat_init(st);
        st->valid = ZIP_STAT_SIZE | ZIP_STAT_MTIME | ZIP_STAT_COMP_METHOD;
        st->size = zip_uint64_t(s->entry->size);
        st->mtime = time_t(s->entry->mtime);
        st->comp_method = s->pool ? ZIP_CM_DEFLATE : ZIP_CM_STORE;
        // Once the stream is through, libzip takes the checksum and the true
        // size from here: deflated data is copied as is, not compressed again.
        quint32 crc = 0;
        qint64 size = 0;
        if (s->pool && s->pool->result(s->job, &crc, &size)) {
            st->valid |= ZIP_STAT_CRC;
            st->crc = crc;
            st->size = zip_uint64_t(size);
        }
        return sizeof(*st);
    }
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&s->error, data, length);
    case ZIP_SOURCE_FREE:
        delete s;
        return 0;
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                              ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
    default:
        zip_error_set(&s->error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

// libzip's output: the caller's open file, written in place.
struct Archive_Sink
{
    QFileDevice *file = nullptr;
    QString reason; // the system's, for the first failed write
    zip_error_t error;

    Archive_Sink() { zip_error_init(&error); }
    ~Archive_Sink() { zip_error_fini(&error); }

    zip_int64_t failed(int code)
    {
        const int system_error = errno;
        if (reason.isEmpty())
            reason = file->errorString();
        zip_error_set(&error, code, system_error);
        return -1;
    }
};

zip_int64_t sink_callback(void *state, void *data, zip_uint64_t length, zip_source_cmd_t command)
{
    auto *s = static_cast<Archive_Sink *>(state);
    switch (command) {
    case ZIP_SOURCE_OPEN:
        return s->file->seek(0) ? 0 : s->failed(ZIP_ER_SEEK);
    case ZIP_SOURCE_BEGIN_WRITE:
    case ZIP_SOURCE_ROLLBACK_WRITE:
    case ZIP_SOURCE_REMOVE:
        // The file is this run's own: it starts, or starts again, empty.
        if (!s->file->seek(0) || !s->file->resize(0))
            return s->failed(ZIP_ER_WRITE);
        return 0;
    case ZIP_SOURCE_READ: {
        const qint64 n = s->file->read(static_cast<char *>(data), qint64(qMin<zip_uint64_t>(length, 1u << 30)));
        return n < 0 ? s->failed(ZIP_ER_READ) : n;
    }
    case ZIP_SOURCE_WRITE: {
        // A short write (a disk filling up) is retried, so the failure comes with its reason.
        for (qint64 done = 0; done < qint64(length);) {
            const qint64 n = s->file->write(static_cast<const char *>(data) + done, qint64(length) - done);
            if (n <= 0)
                return s->failed(ZIP_ER_WRITE);
            done += n;
        }
        return zip_int64_t(length);
    }
    case ZIP_SOURCE_SEEK:
    case ZIP_SOURCE_SEEK_WRITE: {
        const zip_int64_t to = zip_source_seek_compute_offset(zip_uint64_t(s->file->pos()), zip_uint64_t(s->file->size()),
                                                              data, length, &s->error);
        if (to < 0)
            return -1;
        return s->file->seek(to) ? 0 : s->failed(ZIP_ER_SEEK);
    }
    case ZIP_SOURCE_TELL:
    case ZIP_SOURCE_TELL_WRITE:
        return s->file->pos();
    case ZIP_SOURCE_COMMIT_WRITE:
        return s->file->flush() ? 0 : s->failed(ZIP_ER_WRITE);
    case ZIP_SOURCE_CLOSE:
        return 0;
    case ZIP_SOURCE_STAT: {
        zip_stat_t *st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &s->error);
        if (!st)
            return -1;
        zip_stat_init(st);
        st->valid = ZIP_STAT_SIZE;
        st->size = zip_uint64_t(s->file->size());
        return sizeof(*st);
    }
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&s->error, data, length);
    case ZIP_SOURCE_FREE:
        delete s;
        return 0;
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(
            ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
            ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL, ZIP_SOURCE_SUPPORTS, ZIP_SOURCE_BEGIN_WRITE, ZIP_SOURCE_WRITE,
            ZIP_SOURCE_COMMIT_WRITE, ZIP_SOURCE_ROLLBACK_WRITE, ZIP_SOURCE_SEEK_WRITE, ZIP_SOURCE_TELL_WRITE,
            ZIP_SOURCE_REMOVE, -1);
    default:
        zip_error_set(&s->error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

QString zip_reason(zip_t *za)
{
    return QString::fromUtf8(zip_strerror(za));
}

} // namespace

Pack_Plan plan_pack(const QStringList &files, const QStringList &folders, QStringList *errors,
                    Job_Control *control)
{
    Planner planner(errors, control);
    for (const QString &f : files)
        planner.add_top(f);
    for (const QString &f : folders)
        planner.add_top(f);
    return std::move(planner.plan);
}

bool write_archive(const Pack_Plan &plan, const QString &archive_path, Job_Control *control, QString *error)
{
    QFile archive(archive_path);
    if (!archive.open(QIODevice::ReadWrite | QIODevice::Truncate | QIODevice::Unbuffered)) {
        *error = QStringLiteral("%1: %2").arg(archive_path, archive.errorString());
        return false;
    }
    return write_archive(plan, archive, archive_path, control, error);
}

bool write_archive(const Pack_Plan &plan, QFileDevice &archive, const QString &archive_name, Job_Control *control,
                   QString *error)
{
    // libzip writes straight into the caller's file: no temporary file of its own.
    auto *sink = new Archive_Sink;
    sink->file = &archive;
    zip_error_t open_error;
    zip_error_init(&open_error);
    zip_source_t *sink_source = zip_source_function_create(sink_callback, sink, &open_error);
    zip_t *za = sink_source ? zip_open_from_source(sink_source, ZIP_CREATE | ZIP_TRUNCATE, &open_error) : nullptr;
    if (!za) {
        *error = QStringLiteral("%1: %2").arg(archive_name, QString::fromUtf8(zip_error_strerror(&open_error)));
        zip_error_fini(&open_error);
        if (sink_source)
            zip_source_free(sink_source);
        else
            delete sink;
        return false;
    }
    zip_error_fini(&open_error);

    std::vector<const Pack_Entry *> jobs;
    for (const Pack_Entry &e : plan.entries)
        if (!e.is_dir && e.deflate)
            jobs.push_back(&e);
    Deflate_Pool pool(jobs, control);
    QString first_error;

    auto fail = [&](const QString &what) {
        *error = first_error.isEmpty() ? what : first_error;
        pool.stop();
        zip_discard(za);
        return false;
    };

    int job = 0;
    for (const Pack_Entry &e : plan.entries) {
        zip_int64_t index;
        if (e.is_dir) {
            index = zip_dir_add(za, e.name.constData(), ZIP_FL_ENC_UTF_8);
        } else if (e.is_link) {
            zip_source_t *source = zip_source_buffer(za, e.link_target.constData(), zip_uint64_t(e.link_target.size()), 0);
            index = source ? zip_file_add(za, e.name.constData(), source, ZIP_FL_ENC_UTF_8) : -1;
            if (source && index < 0)
                zip_source_free(source);
            if (index >= 0 && zip_set_file_compression(za, zip_uint64_t(index), ZIP_CM_STORE, 0) < 0)
                return fail(zip_reason(za));
        } else {
            auto *state = new Entry_Source;
            state->entry = &e;
            state->control = control;
            state->first_error = &first_error;
            if (e.deflate) {
                state->pool = &pool;
                state->job = job++;
            }
            zip_error_t ze;
            zip_error_init(&ze);
            zip_source_t *source = zip_source_function_create(entry_callback, state, &ze);
            zip_error_fini(&ze);
            if (!source) {
                delete state;
                return fail(QStringLiteral("%1: cannot add to the archive").arg(e.source_path));
            }
            index = zip_file_add(za, e.name.constData(), source, ZIP_FL_ENC_UTF_8);
            if (index < 0) {
                zip_source_free(source);
                return fail(QStringLiteral("%1: %2").arg(e.source_path, zip_reason(za)));
            }
            if (zip_set_file_compression(za, zip_uint64_t(index), e.deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE,
                                         e.deflate ? deflate_level : 0) < 0)
                return fail(zip_reason(za));
        }
        if (index < 0)
            return fail(QStringLiteral("%1: %2").arg(QString::fromUtf8(e.name), zip_reason(za)));
        if (zip_file_set_mtime(za, zip_uint64_t(index), time_t(e.mtime), 0) < 0
            || zip_file_set_external_attributes(za, zip_uint64_t(index), 0, ZIP_OPSYS_UNIX,
                                                (e.unix_mode << 16) | (e.is_dir ? 0x10u : 0u)) < 0)
            return fail(zip_reason(za));
    }

    pool.start();
    // libzip writes everything here; deflated entries stream in from the pool.
    if (zip_close(za) < 0) {
        const QString reason = sink->reason.isEmpty() ? zip_reason(za) : sink->reason;
        return fail(QStringLiteral("%1: writing the archive failed: %2").arg(archive_name, reason));
    }
    pool.stop();
    return true;
}
