// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>

// A password, kept in memory that is locked (never written to swap) and
// wiped when the object goes. It is never printed, logged or reported.
class Password
{
public:
    Password() = default;
    // Copies the bytes (UTF-8); the caller wipes its own copy (wipe()).
    explicit Password(QByteArrayView bytes);
    Password(const Password &other);
    Password &operator=(const Password &other);
    ~Password();

    bool is_empty() const { return length == 0; }
    const char *data() const { return bytes; }
    qsizetype size() const { return length; }

private:
    char *bytes = nullptr;
    qsizetype length = 0;

    void assign(const char *data, qsizetype size);
};

// Asked for a protected container's password each time one is needed:
// attempt counts from 1. False when none is given (the user gave up).
using Password_Provider = std::function<bool(const QString &container, int attempt, Password *out)>;

// How many passwords a container is tried with before its run gives up.
constexpr int password_attempts = 3;

// Overwrites a copy the caller made (a line read, a field's text).
void wipe(QByteArray &bytes);
void wipe(QString &text);
