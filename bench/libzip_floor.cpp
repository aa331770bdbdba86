// SPDX-License-Identifier: GPL-3.0-or-later
// What libzip alone needs, to measure the engine's memory against:
//   libzip_floor decipher CONTAINER ARCHIVE  writes the archive a container holds
//   libzip_floor read ARCHIVE                zip_open, zip_get_num_entries, zip_close
//   libzip_floor write N ARCHIVE             N entries as an encryption adds them
//                                           (a source each, time, mode, the same
//                                           extra fields), zip_close with no data
// Peak memory is taken from outside (GNU time).

#include "container/kvx_cipher.h"

#include <zip.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

int decipher(const char *container, const char *archive)
{
    FILE *in = std::fopen(container, "rb");
    FILE *out = std::fopen(archive, "wb");
    if (!in || !out)
        return 1;
    std::vector<unsigned char> block(size_t(kvx_chunk_size) * 256);
    size_t n;
    while ((n = std::fread(block.data(), 1, block.size(), in)) > 0) {
        transform_chunks(block.data(), qint64(n), Cipher_Direction::Decrypt);
        std::fwrite(block.data(), 1, n, out);
    }
    std::fclose(in);
    return std::fclose(out) == 0 ? 0 : 1;
}

int read(const char *archive)
{
    int error = 0;
    zip_t *za = zip_open(archive, ZIP_RDONLY, &error);
    if (!za)
        return 1;
    std::printf("%lld entries\n", static_cast<long long>(zip_get_num_entries(za, 0)));
    zip_discard(za);
    return 0;
}

zip_int64_t empty_source(void *, void *data, zip_uint64_t length, zip_source_cmd_t command)
{
    switch (command) {
    case ZIP_SOURCE_OPEN:
    case ZIP_SOURCE_CLOSE:
    case ZIP_SOURCE_READ:
    case ZIP_SOURCE_FREE:
        return 0;
    case ZIP_SOURCE_STAT: {
        zip_stat_t *st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, nullptr);
        zip_stat_init(st);
        st->valid = ZIP_STAT_SIZE;
        st->size = 0;
        return sizeof(*st);
    }
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
    default:
        return -1;
    }
}

int write(long count, const char *archive)
{
    int error = 0;
    zip_t *za = zip_open(archive, ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!za)
        return 1;
    const zip_uint8_t timestamp[5] = {1, 0, 0, 0, 0x59};
    char name[64];
    for (long i = 0; i < count; ++i) {
        std::snprintf(name, sizeof name, "files/d%04ld/f%07ld.txt", i / 1000, i);
        zip_source_t *source = zip_source_function_create(empty_source, nullptr, nullptr);
        const zip_int64_t index = zip_file_add(za, name, source, ZIP_FL_ENC_UTF_8);
        if (index < 0)
            return 1;
        zip_set_file_compression(za, zip_uint64_t(index), ZIP_CM_STORE, 0);
        zip_file_set_mtime(za, zip_uint64_t(index), 1500000000, 0);
        zip_file_set_external_attributes(za, zip_uint64_t(index), 0, ZIP_OPSYS_UNIX, 0100644u << 16 | 0x80);
        zip_file_extra_field_set(za, zip_uint64_t(index), 0x5455, ZIP_EXTRA_FIELD_NEW, timestamp, 5,
                                 ZIP_FL_LOCAL | ZIP_FL_CENTRAL);
    }
    return zip_close(za) == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "decipher") == 0)
        return decipher(argv[2], argv[3]);
    if (argc == 3 && std::strcmp(argv[1], "read") == 0)
        return read(argv[2]);
    if (argc == 4 && std::strcmp(argv[1], "write") == 0)
        return write(std::atol(argv[2]), argv[3]);
    std::fputs("usage: libzip_floor decipher CONTAINER ARCHIVE | read ARCHIVE | write N ARCHIVE\n", stderr);
    return 2;
}
