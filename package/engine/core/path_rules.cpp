// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/path_rules.h"

#include <QList>
#include <QStringDecoder>

namespace {

// The length of the valid UTF-8 sequence at p (1 to 4), or 0 when there is none.
int utf8_sequence(const uchar *p, qsizetype left)
{
    const uchar c = p[0];
    if (c < 0x80)
        return 1;
    int length = 0;
    uchar low = 0x80, high = 0xBF; // the range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        low = c == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
        high = c == 0xED ? 0x9F : 0xBF; // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        low = c == 0xF0 ? 0x90 : 0x80;
        high = c == 0xF4 ? 0x8F : 0xBF; // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (left < length || p[1] < low || p[1] > high)
        return 0;
    for (int i = 2; i < length; ++i)
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    return length;
}

QList<QByteArray> parts_of(const QByteArray &path)
{
    return path.split('/');
}

bool is_reserved(uchar c)
{
    return c < 0x20 || c == '\\' || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|';
}

} // namespace

bool is_valid_utf8(const QByteArray &bytes)
{
    const auto *p = reinterpret_cast<const uchar *>(bytes.constData());
    for (qsizetype i = 0; i < bytes.size();) {
        const int n = utf8_sequence(p + i, bytes.size() - i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

QString display_path(const QByteArray &path)
{
    // Control characters (C0, DEL and C1) would move the cursor, retitle or
    // clear a terminal, or hide a name behind a carriage return. They are
    // escaped as ls -b does; bytes that are not UTF-8 as "\\xNN".
    static const char named[] = "abtnvfr";
    const auto *p = reinterpret_cast<const uchar *>(path.constData());
    QString out;
    const auto escape = [&](uchar c) {
        if (c >= '\a' && c <= '\r')
            out += QLatin1StringView("\\") + QLatin1Char(named[c - '\a']);
        else
            out += QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'));
    };
    for (qsizetype i = 0; i < path.size();) {
        const int n = utf8_sequence(p + i, path.size() - i);
        if (n == 0 || (n == 1 && (p[i] < 0x20 || p[i] == 0x7F)) || (n == 2 && p[i] == 0xC2 && p[i + 1] < 0xA0)) {
            for (int k = 0; k < qMax(n, 1); ++k)
                escape(p[i + k]);
            i += qMax(n, 1);
        } else {
            out += QString::fromUtf8(path.constData() + i, n);
            i += n;
        }
    }
    return out;
}

QByteArray windows_name_to_path(const QByteArray &raw)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString name = utf8.decode(raw);
    if (utf8.hasError()) {
        QStringDecoder gbk("GBK", QStringDecoder::Flag::Stateless);
        if (gbk.isValid()) {
            const QString as_gbk = gbk.decode(raw);
            if (!gbk.hasError())
                name = as_gbk;
        }
        // Otherwise replacement characters mark what could not be read.
    }
    return name.replace(QLatin1Char('\\'), QLatin1Char('/')).toUtf8();
}

QByteArray safe_relative_path(const QByteArray &name)
{
    if (name.startsWith('/') || name.contains('\0'))
        return QByteArray();
    // Most names need nothing done: no empty, "." or ".." parts.
    const QByteArray bare = name.endsWith('/') ? name.chopped(1) : name;
    if (!bare.isEmpty() && !bare.contains("//") && !bare.startsWith("./") && !bare.startsWith("../")
        && bare != "." && bare != ".." && !bare.contains("/./") && !bare.contains("/../") && !bare.endsWith("/.")
        && !bare.endsWith("/.."))
        return bare;
    QByteArray out;
    for (const QByteArray &part : parts_of(name)) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..")
            return QByteArray();
        if (!out.isEmpty())
            out += '/';
        out += part;
    }
    return out;
}

bool link_target_is_safe(const QByteArray &link_path, const QByteArray &target)
{
    if (target.isEmpty() || target.startsWith('/') || target.contains('\0'))
        return false;
    QList<QByteArray> resolved = parts_of(parent_of(link_path));
    resolved.removeAll(QByteArray());
    bool named = false;
    for (const QByteArray &part : parts_of(target)) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            if (named || resolved.isEmpty())
                return false;
            resolved.removeLast();
            continue;
        }
        named = true;
        resolved.append(part);
    }
    // The destination itself is refused too: a chain of links could climb out of it.
    return !resolved.isEmpty();
}

QByteArray portable_name(const QByteArray &name)
{
    const auto *p = reinterpret_cast<const uchar *>(name.constData());
    QByteArray out;
    for (qsizetype i = 0; i < name.size();) {
        const int n = utf8_sequence(p + i, name.size() - i);
        if (n == 0 || (n == 1 && is_reserved(p[i]))) {
            out += '_';
            ++i;
        } else {
            out.append(name.constData() + i, n);
            i += n;
        }
    }
    for (qsizetype i = out.size() - 1; i >= 0 && (out[i] == '.' || out[i] == ' '); --i)
        out[i] = '_';
    return out;
}

QByteArray leaf_of(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? path : path.mid(slash + 1);
}

QByteArray parent_of(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray() : path.left(slash);
}
