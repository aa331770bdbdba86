#pragma once

#include <QFile>
#include <QString>

struct Pack_Entry;

// A planned file, read for packing. On Unix it is a plain descriptor: QFile
// adds status calls of its own to opening and reading, which on a folder of
// many small files costs more than the reading itself.
class Source_File
{
public:
    explicit Source_File(const QString &path);
    ~Source_File();
    Source_File(const Source_File &) = delete;
    Source_File &operator=(const Source_File &) = delete;

    bool open();
    bool seek(qint64 offset);
    // The bytes read, 0 at the end, -1 on a failure.
    qint64 read(char *data, qint64 length);
    // Still the file the plan saw: the same file, size and modification time.
    bool is_as_planned(const Pack_Entry &e) const;
    // "<path>: <the system's reason>" for the last failure.
    QString reason() const;

private:
    QString path;
#ifdef Q_OS_UNIX
    int fd = -1;
    int last_error = 0;
#else
    QFile file;
#endif
};
