// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>

// Patterns people know from .gitignore and shells, matched against a whole
// path inside an archive, in bytes: "*" and "?" and "[...]" never cross "/",
// "**" does ("**/" also matches no folder at all), "\" takes the next
// character literally. A pattern that matches a folder takes everything under
// it, so "src/tests" and "src/tests/" both take "src/tests/a.cpp". A trailing
// "/" on the path (a folder entry) is not part of what is matched.
class Path_Patterns
{
public:
    Path_Patterns() = default;
    explicit Path_Patterns(const QList<QByteArray> &patterns);

    bool is_empty() const { return list.isEmpty(); }
    qsizetype size() const { return list.size(); }
    const QByteArray &pattern(qsizetype i) const { return given[i]; }

    // Whether pattern i takes path.
    bool takes(qsizetype i, const QByteArray &path) const;
    // Whether any pattern takes path.
    bool take(const QByteArray &path) const;

private:
    QList<QByteArray> given; // as written, for messages
    QList<QByteArray> list;  // without a leading "./" or "/" and trailing "/"
};

// Whether the whole of name matches pattern (no folder rule).
bool path_pattern_match(const QByteArray &pattern, const QByteArray &name);
