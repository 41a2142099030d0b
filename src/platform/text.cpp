// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/text.h"

#include <QCollator>
#include <QLocale>

namespace {
const char16_t kHigh[128] = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021, 0x0088, 0x2030, 0x0160, 0x2039, 0x015A,
    0x0164, 0x017D, 0x0179, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122,
    0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A, 0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6,
    0x00A7, 0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B, 0x00B0, 0x00B1, 0x02DB, 0x0142,
    0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C, 0x0154,
    0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7, 0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD,
    0x00CE, 0x010E, 0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7, 0x0158, 0x016E, 0x00DA,
    0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF, 0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F, 0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4,
    0x0151, 0x00F6, 0x00F7, 0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};

QCollator& collator()
{
    static QCollator c = [] {
        QCollator col(QLocale::system());
        col.setCaseSensitivity(Qt::CaseInsensitive);
        col.setNumericMode(false);
        return col;
    }();
    return c;
}
}  // namespace

QString fromCp1250(const std::string& bytes)
{
    QString out;
    out.resize(static_cast<qsizetype>(bytes.size()));
    for (size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        out[static_cast<qsizetype>(i)] = QChar(b < 0x80 ? char16_t(b) : kHigh[b - 0x80]);
    }
    return out;
}

std::string toCp1250(const QString& text)
{
    std::string out;
    out.reserve(static_cast<size_t>(text.size()));
    for (QChar ch : text) {
        const char16_t u = ch.unicode();
        if (u < 0x80) {
            out += static_cast<char>(u);
            continue;
        }
        char mapped = '?';
        for (int i = 0; i < 128; ++i) {
            if (kHigh[i] == u) {
                mapped = static_cast<char>(0x80 + i);
                break;
            }
        }
        out += mapped;
    }
    return out;
}

std::string cp1250ToUtf8(const std::string& bytes)
{
    return fromCp1250(bytes).toStdString();
}

std::string escapeControlCharacters(const std::string& utf8)
{
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        unsigned code = 0x100;  // none
        if (b < 0x20 || b == 0x7F)
            code = b;
        else if (b == 0xC2 && i + 1 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) >= 0x80
                 && static_cast<unsigned char>(utf8[i + 1]) <= 0x9F)
            code = static_cast<unsigned char>(utf8[++i]);  // a C1 control, U+0080..U+009F
        if (b == '\\') {
            out += "\\\\";
        } else if (code == '\t') {
            out += "\\t";
        } else if (code == '\n') {
            out += "\\n";
        } else if (code == '\r') {
            out += "\\r";
        } else if (code < 0x100) {
            out += "\\x";
            out += kHex[code >> 4];
            out += kHex[code & 15];
        } else {
            out += static_cast<char>(b);
        }
    }
    return out;
}

std::string displayName(const std::string& cp1250)
{
    return escapeControlCharacters(cp1250ToUtf8(cp1250));
}

int localeCompareIgnoreCase(const QString& a, const QString& b)
{
    return collator().compare(a, b);
}

int localeCompareIgnoreCaseCp1250(const std::string& a, const std::string& b)
{
    return collator().compare(fromCp1250(a), fromCp1250(b));
}

QCollatorSortKey localeSortKeyIgnoreCase(const QString& text)
{
    // Fold case first: in the C locale the collator's keys are the plain text
    // and would not ignore case, unlike its compare.
    return collator().sortKey(text.toCaseFolded());
}

bool sameTextIgnoreCase(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0 || QLocale::system().toUpper(a) == QLocale::system().toUpper(b);
}

bool sameTextIgnoreCaseUtf8(const std::string& a, const std::string& b)
{
    return sameTextIgnoreCase(QString::fromUtf8(a), QString::fromUtf8(b));
}

std::string localeUpper(const std::string& utf8)
{
    return QLocale::system().toUpper(QString::fromUtf8(utf8)).toUtf8().toStdString();
}

std::string localeLower(const std::string& utf8)
{
    return QLocale::system().toLower(QString::fromUtf8(utf8)).toUtf8().toStdString();
}

std::string counted(int64_t count, const char* singular, const char* plural)
{
    return std::to_string(count) + " " + (count == 1 ? singular : plural);
}
