// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli/texture_options.h"

#include "cli/commands.h"
#include "formats/texture_dictionary.h"
#include "platform/exceptions.h"
#include "platform/text.h"

const QCommandLineOption kTextureSizeOption("size",
                                            "The texture's size in pixels: the picture is resampled to it "
                                            "(cubic B-spline). 1 to 4096 each; divisible by 4 for DXT layouts.",
                                            "WxH");
const QCommandLineOption kPictureSizeOption("picture-size",
                                            "The texture takes the picture's own size; the picture is not "
                                            "resampled.");
const QCommandLineOption kLayoutOption("format",
                                       "The texture's layout: P8, 8888, 888, 1555, 555, 565, 4444, LUM8, DXT1, "
                                       "DXT3 or DXT5 (DXT5 not in a dictionary of the older header, platform 8).",
                                       "LAYOUT");
const QCommandLineOption kLevelsOption("levels",
                                       "The number of mip levels, from 1 to the full chain down to 1 x 1, or 'all' "
                                       "for the full chain.",
                                       "N|all");
const QCommandLineOption kDxtOption("dxt",
                                    "How DXT1, DXT3 and DXT5 levels are encoded: fast (the default: stb_dxt's fit "
                                    "with its colour endpoints refined, as good as cluster fit on average) or best "
                                    "(libsquish's iterative cluster fit, many times slower).",
                                    "fast|best");

namespace {

// A decimal number of 1 to 5 digits.
std::optional<int> parseSide(const std::string& text)
{
    if (text.empty() || text.size() > 5)
        return std::nullopt;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace

std::optional<QSize> parseTextureSize(const std::string& text)
{
    const size_t x = text.find_first_of("xX");
    if (x == std::string::npos)
        return std::nullopt;
    const std::optional<int> w = parseSide(text.substr(0, x));
    const std::optional<int> h = parseSide(text.substr(x + 1));
    if (!w || !h)
        return std::nullopt;
    return QSize(*w, *h);
}

std::optional<TexelFormat> parseLayoutName(const std::string& text)
{
    const LayoutRow* row = layoutRowByName(text);
    if (!row)
        return std::nullopt;
    return row->format;
}

std::string layoutNamesText()
{
    std::string names;
    for (const LayoutRow& row : kLayoutRows) {
        if (row.format == TexelFormat::Unknown || row.plainKind != 0)
            continue;
        if (!names.empty())
            names += ", ";
        names += row.name;
    }
    return names;
}

std::optional<DxtQuality> parseDxtQuality(const std::string& text)
{
    if (text == "fast")
        return DxtQuality::Fast;
    if (text == "best")
        return DxtQuality::Best;
    return std::nullopt;
}

bool readDxtChoice(const QCommandLineParser& parser, DxtQuality& quality, std::string& problem)
{
    quality = DxtQuality::Fast;
    if (!parser.isSet(kDxtOption))
        return true;
    const std::string value = utf8(parser.value(kDxtOption));
    const std::optional<DxtQuality> chosen = parseDxtQuality(value);
    if (!chosen) {
        problem = "unknown DXT quality '" + escapeControlCharacters(value) + "' (expected fast or best)";
        return false;
    }
    quality = *chosen;
    return true;
}

bool readTextureChoices(const QCommandLineParser& parser, bool hasPictureSize, bool hasLevels, TextureChoices& choices,
                        std::string& problem)
{
    if (parser.isSet(kTextureSizeOption)) {
        const std::string value = utf8(parser.value(kTextureSizeOption));
        choices.size = parseTextureSize(value);
        if (!choices.size) {
            problem = "bad size '" + escapeControlCharacters(value) + "' (expected WxH, e.g. 512x512)";
            return false;
        }
    }
    choices.pictureSize = hasPictureSize && parser.isSet(kPictureSizeOption);
    if (choices.size && choices.pictureSize) {
        problem = "--size and --picture-size cannot be given together";
        return false;
    }
    if (parser.isSet(kLayoutOption)) {
        const std::string value = utf8(parser.value(kLayoutOption));
        choices.format = parseLayoutName(value);
        if (!choices.format) {
            problem = "unknown layout '" + escapeControlCharacters(value) + "' (expected " + layoutNamesText() + ")";
            return false;
        }
    }
    if (hasLevels && parser.isSet(kLevelsOption)) {
        const std::string value = utf8(parser.value(kLevelsOption));
        choices.levels = parseLevelsChoice(value);
        if (!choices.levels) {
            problem = "bad level count '" + escapeControlCharacters(value) + "' (expected a number from 1, or all)";
            return false;
        }
    }
    return readDxtChoice(parser, choices.dxt, problem);
}

DirectoryEntry dictionaryEntryOf(ArchiveEditor& editor, const std::string& which)
{
    const DirectoryEntry* e = findEntry(editor.contents().entries, which);
    if (!e)
        throw Exception("No entry '" + escapeControlCharacters(which) + "' in "
                        + escapeControlCharacters(editor.path()));
    if (!entryIsTextureDictionary(e->name))
        throw Exception("Entry '" + displayName(e->name) + "' is not a texture dictionary");
    return *e;
}

int textureIndexOf(const DictionaryTree& tree, const DirectoryEntry& entry, const std::string& which)
{
    const int index = findTextureByPosOrName(tree, which);
    if (index < 0)
        throw Exception("No texture '" + escapeControlCharacters(which) + "' in entry '" + displayName(entry.name)
                        + "'");
    return index;
}

std::string contentText(const TexelLayout& layout)
{
    return std::to_string(layout.width) + " x " + std::to_string(layout.height) + " " + texelFormatName(layout.format)
           + ", " + counted(layout.levels, "level", "levels");
}

std::string quotedName(const std::string& cp1250)
{
    // Built a piece at a time: GCC 12 warns falsely about "'" + text + "'".
    std::string quoted = "'";
    quoted += displayName(cp1250);
    quoted += '\'';
    return quoted;
}

std::string movedText(const DirectoryEntry& before, const DirectoryEntry& after)
{
    if (after.offset == before.offset)
        return "";
    return "; the entry moved to offset " + std::to_string(after.offset);
}
