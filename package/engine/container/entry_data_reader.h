#pragma once

#include <QString>

#include <memory>

#include "core/zip_handles.h"

// Reads one entry's data like zip_fread, checking its size and checksum. A
// deflated entry is inflated here from its raw data when a faster inflater is
// built in (ISA-L, or libdeflate for small entries); anything else goes
// through libzip.
class Entry_Data_Reader
{
public:
    Entry_Data_Reader(zip_t *archive, zip_uint64_t index);
    ~Entry_Data_Reader();
    Entry_Data_Reader(const Entry_Data_Reader &) = delete;
    Entry_Data_Reader &operator=(const Entry_Data_Reader &) = delete;

    bool is_open() const;
    // Bytes read, 0 at the end (after the checks passed), -1 with error().
    qint64 read(char *buffer, qint64 length);
    // Closes the entry; false with error() when libzip finds a fault.
    bool close();
    QString error() const { return reason; }

private:
    struct Fast;
    Zip_File_Ptr file;
    std::unique_ptr<Fast> fast;
    QString reason;
};
