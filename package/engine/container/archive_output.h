// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include "platform/system.h"

// Where libzip's writer puts the archive: it mostly appends but goes back
// now and then (libzip finishes each entry's header after its data).
class Archive_Target
{
public:
    virtual ~Archive_Target() = default;
    virtual qint64 size() const = 0;
    // at may be anywhere up to the end; false with reason() on a failed write.
    virtual bool write(qint64 at, const char *data, qint64 length) = 0;
    // Reads back what was written: the bytes read, or -1.
    virtual qint64 read(qint64 at, char *data, qint64 length) = 0;
    // Empties the file, to start over.
    virtual bool restart() = 0;
    // Writes what is left; nothing may be written after it.
    virtual bool finish() = 0;
    virtual QString reason() const = 0;
};

// The archive's way into its file.
// The archive's tail is gathered in memory and reaches the file in large
// writes. Enciphered, every chunk is transformed on its way, counted from the
// file's start as the container has it, so no plain archive is ever written.
class Archive_Output : public Archive_Target
{
public:
    static constexpr qint64 capacity = 256 * 5120; // whole chunks

    Archive_Output(os::File &file, bool encipher) : file(file), encipher(encipher) {}

    qint64 size() const override { return end; }
    bool write(qint64 at, const char *data, qint64 length) override;
    // Plain, whatever the file holds.
    qint64 read(qint64 at, char *data, qint64 length) override;
    bool restart() override;
    bool finish() override;
    QString reason() const override { return failure; }

private:
    os::File &file;
    const bool encipher;
    QByteArray tail;       // the archive from tail_start on, not in the file yet
    qint64 tail_start = 0; // on a chunk boundary
    qint64 end = 0;
    bool finished = false;
    QString failure;

    bool fail(int error);
    bool put(qint64 at, const char *data, qint64 length);
    bool get(qint64 at, char *data, qint64 length);
    bool flush_whole_chunks();
    bool load_written(qint64 at, qint64 length, QByteArray *block);
    bool patch_written(qint64 at, const char *data, qint64 length);
    bool read_written(qint64 at, char *data, qint64 length);
};
