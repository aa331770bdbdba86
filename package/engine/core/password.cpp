// SPDX-License-Identifier: GPL-3.0-or-later
#include "password.h"

#include <sodium.h>

#include <cstring>
#include <new>

namespace {

void start_sodium()
{
    static const bool started = sodium_init() >= 0;
    if (!started)
        throw std::bad_alloc(); // it fails only when it cannot get what it needs
}

} // namespace

Password::Password(QByteArrayView given)
{
    assign(given.data(), given.size());
}

Password::Password(const Password &other)
{
    assign(other.bytes, other.length);
}

Password &Password::operator=(const Password &other)
{
    if (this != &other)
        assign(other.bytes, other.length);
    return *this;
}

Password::~Password()
{
    assign(nullptr, 0);
}

// sodium_malloc locks the pages and sodium_free wipes them.
void Password::assign(const char *data, qsizetype size)
{
    if (bytes)
        sodium_free(bytes);
    bytes = nullptr;
    length = 0;
    if (size <= 0)
        return;
    start_sodium();
    bytes = static_cast<char *>(sodium_malloc(size_t(size)));
    if (!bytes)
        throw std::bad_alloc();
    std::memcpy(bytes, data, size_t(size));
    length = size;
}

void wipe(QByteArray &bytes)
{
    if (!bytes.isEmpty())
        sodium_memzero(bytes.data(), size_t(bytes.size()));
    bytes.clear();
}

void wipe(QString &text)
{
    if (!text.isEmpty())
        sodium_memzero(text.data(), size_t(text.size()) * sizeof(QChar));
    text.clear();
}
