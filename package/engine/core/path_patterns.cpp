// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/path_patterns.h"

namespace {

QByteArray trimmed_path(QByteArray p)
{
    while (p.startsWith("./"))
        p.remove(0, 2);
    while (p.startsWith('/'))
        p.remove(0, 1);
    while (p.endsWith('/'))
        p.chop(1);
    return p;
}

// Bytes one character takes: "?" is one character, and a name's characters
// beyond ASCII are UTF-8 sequences (a stray byte counts alone).
qsizetype char_length(const char *s, qsizetype left)
{
    const auto lead = static_cast<unsigned char>(s[0]);
    const qsizetype n = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (n > left)
        return 1;
    for (qsizetype i = 1; i < n; ++i)
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80)
            return 1;
    return n;
}

// "[...]" at p[0]: whether c matches; *end gets the position after "]".
// An unclosed "[" is a literal.
bool match_class(const char *p, const char *p_end, unsigned char c, const char **end, bool *is_class)
{
    const char *q = p + 1;
    bool negate = false;
    if (q < p_end && (*q == '!' || *q == '^')) {
        negate = true;
        ++q;
    }
    bool matched = false;
    bool first = true;
    for (; q < p_end && (first || *q != ']'); first = false) {
        unsigned char lo = static_cast<unsigned char>(*q == '\\' && q + 1 < p_end ? *++q : *q);
        ++q;
        unsigned char hi = lo;
        if (q + 1 < p_end && *q == '-' && q[1] != ']') {
            hi = static_cast<unsigned char>(q[1] == '\\' && q + 2 < p_end ? q[2] : q[1]);
            q += q[1] == '\\' ? 3 : 2;
        }
        if (c >= lo && c <= hi)
            matched = true;
    }
    if (q >= p_end) {
        *is_class = false;
        return false;
    }
    *is_class = true;
    *end = q + 1;
    return matched != negate;
}

bool match(const char *p, const char *p_end, const char *s, const char *s_end)
{
    while (p < p_end) {
        if (*p == '*') {
            const bool deep = p + 1 < p_end && p[1] == '*';
            if (deep) {
                p += 2;
                // "**/" may stand for no folder at all.
                if (p < p_end && *p == '/' && match(p + 1, p_end, s, s_end))
                    return true;
                for (const char *t = s; t <= s_end; ++t)
                    if (match(p, p_end, t, s_end))
                        return true;
                return false;
            }
            ++p;
            for (const char *t = s;; ++t) {
                if (match(p, p_end, t, s_end))
                    return true;
                if (t == s_end || *t == '/')
                    return false;
            }
        }
        if (s == s_end)
            return false;
        if (*p == '?') {
            if (*s == '/')
                return false;
            s += char_length(s, s_end - s);
            ++p;
            continue;
        }
        if (*p == '[') {
            const char *after = nullptr;
            bool is_class = false;
            const bool in = match_class(p, p_end, static_cast<unsigned char>(*s), &after, &is_class);
            if (is_class) {
                if (!in || *s == '/')
                    return false;
                ++s;
                p = after;
                continue;
            }
        }
        if (*p == '\\' && p + 1 < p_end)
            ++p;
        if (*p != *s)
            return false;
        ++p;
        ++s;
    }
    return s == s_end;
}

} // namespace

bool path_pattern_match(const QByteArray &pattern, const QByteArray &name)
{
    return match(pattern.constData(), pattern.constData() + pattern.size(), name.constData(),
                 name.constData() + name.size());
}

Path_Patterns::Path_Patterns(const QList<QByteArray> &patterns) : given(patterns)
{
    for (const QByteArray &p : patterns)
        list.append(trimmed_path(p));
}

bool Path_Patterns::takes(qsizetype i, const QByteArray &path) const
{
    const QByteArray name = trimmed_path(path);
    if (path_pattern_match(list[i], name))
        return true;
    // A folder it matches takes what is under it.
    for (qsizetype at = name.indexOf('/'); at > 0; at = name.indexOf('/', at + 1))
        if (path_pattern_match(list[i], name.left(at)))
            return true;
    return false;
}

bool Path_Patterns::take(const QByteArray &path) const
{
    for (qsizetype i = 0; i < list.size(); ++i)
        if (takes(i, path))
            return true;
    return false;
}
