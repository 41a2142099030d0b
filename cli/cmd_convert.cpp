// quarnix-tool convert PICTURE OUT.tga [--size WxH] [--format rgb24|color256]
// Loads a picture of any registered format, prepares it as the texture import
// does (resample to WxH, reduce to true colour or 256 colours) and writes it
// as TGA.
#include "cli/commands.h"
#include "imaging/import_pipeline.h"
#include "imaging/picture_registry.h"
#include "platform/exceptions.h"

#include <cstdio>
#include <exception>
#include <new>
#include <optional>
#include <string>

namespace {

int convertUsage(const std::string& problem)
{
    if (!problem.empty())
        std::fprintf(stderr, "quarnix-tool convert: %s\n", problem.c_str());
    std::fputs("usage: quarnix-tool convert PICTURE OUT.tga [--size WxH] [--format rgb24|color256]\n", stderr);
    return 2;
}

// A decimal number of 1 to 5 digits, 1..65535.
std::optional<int> parseSide(const std::string& text)
{
    if (text.empty() || text.size() > 5)
        return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535)
        return std::nullopt;
    return value;
}

std::optional<QSize> parseSize(const std::string& text)
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

}  // namespace

int cmdConvert(const std::vector<std::string>& args)
{
    std::vector<std::string> positional;
    std::optional<QSize> size;
    std::optional<TImageFormat> format;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--size" || a == "--format") {
            if (i + 1 >= args.size())
                return convertUsage(a + " needs a value");
            const std::string& value = args[++i];
            if (a == "--size") {
                size = parseSize(value);
                if (!size)
                    return convertUsage("bad size '" + value + "' (expected WxH, each 1..65535)");
            } else if (value == "rgb24") {
                format = ifRgb24;
            } else if (value == "color256") {
                format = ifColor256;
            } else {
                return convertUsage("bad format '" + value + "' (expected rgb24 or color256)");
            }
        } else if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
            return convertUsage("unknown option '" + a + "'");
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 2)
        return convertUsage("");

    try {
        InitImageLibrary();
        RegisterImportPreviewFormats();
        std::unique_ptr<TDibGraphic> picture = LoadPictureFromFile(positional[0], 1);
        PrepareImportPicture(*picture, size, format);
        SavePictureAsTgaFile(*picture, positional[1]);
    } catch (const Exception& e) {
        return reportError(e.message());
    } catch (const std::bad_alloc&) {
        return reportError("Out of memory");
    } catch (const std::exception& e) {
        return reportError(e.what());
    }
    return 0;
}
