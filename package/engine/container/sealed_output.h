// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "container/archive_output.h"
#include "container/sealed_chunks.h"

#include <deque>
#include <vector>

// The archive sealed in chunks under a password's key on its way into the
// container (see sealed_chunks.h). The last chunks written stay in memory,
// unsealed, until the archive has gone well past them: libzip goes back to
// finish each entry's local header, mostly within the last few kilobytes,
// and only the true last chunk may be sealed as the last. A write into a
// chunk already sealed opens it, changes it and seals it again with a new
// nonce.
class Sealed_Output : public Archive_Target
{
public:
    Sealed_Output(Archive_Target &below, const sealed::Header &header, const sealed::Key &key)
        : below(below), header(header), key(key)
    {
    }

    qint64 size() const override { return end; }
    bool write(qint64 at, const char *data, qint64 length) override;
    qint64 read(qint64 at, char *data, qint64 length) override;
    bool restart() override;
    bool finish() override;
    QString reason() const override { return failure.isEmpty() ? below.reason() : failure; }

private:
    static constexpr size_t window_chunks = 16;

    Archive_Target &below;
    sealed::Header header;
    sealed::Key key;
    std::deque<std::vector<char>> window; // chunks window_start... not sealed yet
    qint64 window_start = 0;
    std::vector<char> stored = std::vector<char>(size_t(sealed::stored_chunk_size));
    qint64 end = 0;
    bool header_written = false;
    QString failure;

    bool write_header();
    bool seal_first_in_window(bool last);
    bool load_sealed(qint64 index, std::vector<char> *plain);
    bool patch_sealed(qint64 index, qint64 offset, const char *data, qint64 length);
};
