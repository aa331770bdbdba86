#pragma once

#include <QFile>
#include <QString>

// What the planner saw of a file: a file read later must still be this one.
struct File_Identity
{
    qint64 size = 0;
    qint64 mtime_ns = 0;
    quint64 inode = 0;
};

// A planned file, read for packing. On Unix it is a plain descriptor: QFile
// adds status calls of its own to opening and reading, which on a folder of
// many small files costs more than the reading itself.
class Input_File
{
public:
    explicit Input_File(const QString &path);
    ~Input_File();
    Input_File(const Input_File &) = delete;
    Input_File &operator=(const Input_File &) = delete;

    bool open();
    bool seek(qint64 offset);
    // The bytes read, 0 at the end, -1 on a failure.
    qint64 read(char *data, qint64 length);
    // Still the file the plan saw: the same file, size and modification time.
    bool is_as_planned(const File_Identity &planned) const;
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
