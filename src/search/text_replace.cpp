// SPDX-License-Identifier: GPL-2.0-or-later
#include "search/text_replace.h"

#include "platform/text.h"

#include <QLocale>
#include <QString>

#include <algorithm>

bool containsFoldingAsciiLetters(std::string_view haystack, std::string_view needle)
{
    const auto hit = std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(),
                                 [](char a, char b) { return asciiLower(a) == asciiLower(b); });
    return needle.empty() || hit != haystack.end();
}

Cp1250UpperCase::Cp1250UpperCase()
{
    const QLocale locale = QLocale::system();
    for (int b = 0; b < 256; ++b) {
        const std::string byte(1, static_cast<char>(b));
        const QString ch = fromCp1250(byte);
        const QString up = locale.toUpper(ch);
        char mapped = static_cast<char>(b);
        if (up.size() == 1 && up != ch) {
            // Keep the upper case only when the code page holds it: encoding
            // stands in "?" for what it cannot hold, so decode again and compare.
            const std::string encoded = toCp1250(up);
            if (encoded.size() == 1 && fromCp1250(encoded) == up)
                mapped = encoded[0];
        }
        table_[static_cast<size_t>(b)] = mapped;
    }
}

void Cp1250UpperCase::apply(std::string_view text, std::string& out) const
{
    out.resize(text.size());
    std::transform(text.begin(), text.end(), out.begin(), *this);
}

TextReplacer::TextReplacer(std::string_view pattern, std::string_view replacement, ReplaceFlags flags)
    : replacement_(replacement), all_((flags & rfReplaceAll) != 0), ignoreCase_((flags & rfIgnoreCase) != 0)
{
    if (ignoreCase_) {
        upper_.emplace();
        upper_->apply(pattern, pattern_);
    } else
        pattern_.assign(pattern);
}

const std::string& TextReplacer::apply(std::string_view text)
{
    result_.clear();
    std::string_view compare = text;
    if (ignoreCase_ && !pattern_.empty()) {
        upper_->apply(text, compare_);
        compare = compare_;
    }
    // `pos` is where the remainder (and the search area) starts; both copies
    // have the same length, so it is valid in each.
    size_t pos = 0;
    while (pos < text.size() && !pattern_.empty()) {
        const size_t hit = compare.find(pattern_, pos);
        if (hit == std::string_view::npos)
            break;
        result_.append(text.substr(pos, hit - pos));
        result_.append(replacement_);
        pos = hit + pattern_.size();
        if (!all_)
            break;
    }
    result_.append(text.substr(pos));
    return result_;
}

std::string replaceText(std::string_view text, std::string_view pattern, std::string_view replacement,
                        ReplaceFlags flags)
{
    TextReplacer replacer(pattern, replacement, flags);
    return replacer.apply(text);
}
