// SPDX-License-Identifier: GPL-2.0-or-later
// The codec table, codec selection by extension and the dispatch of the codec
// operations. The dispatcher checks what callers pass in (codec index, sizes,
// row buffer) before a codec sees it, and turns exceptions escaping a codec
// into error codes, so every failure reaches the bridge as a failed step.
#include "imaging/codec/vesk.h"

#include "platform/exceptions.h"

#include <cstring>
#include <new>

const VeskCodec* const kVeskCodecs[kVeskCodecCount] = {&kBmpCodec, &kPcxCodec, &kTgaCodec};

namespace {

bool isSeparator(char c)
{
    return c == ' ' || c == '\t' || c == ',';
}

char asciiUpper(char c)
{
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

bool sameAsciiIgnoreCase(const char* a, size_t aLen, const std::string& b)
{
    if (aLen != b.size())
        return false;
    for (size_t i = 0; i < aLen; ++i)
        if (asciiUpper(a[i]) != asciiUpper(b[i]))
            return false;
    return true;
}

const VeskCodec* codecAt(int codec)
{
    if (codec < 0 || codec >= kVeskCodecCount)
        return nullptr;
    return kVeskCodecs[codec];
}

// Width, height and bits per pixel describe a picture whose rows fit in
// `rowsSize` bytes at `rows`.
bool rowsMatch(const VeskDescription& d, const uint8_t* rows, int64_t rowsSize)
{
    if (d.width < 1 || d.height < 1)
        return false;
    if (d.bitsPerPixel != 1 && d.bitsPerPixel != 4 && d.bitsPerPixel != 8 && d.bitsPerPixel != 24)
        return false;
    if (!rows)
        return false;
    const int64_t stride = VeskRowStride(d.width, d.bitsPerPixel);
    return rowsSize >= 0 && stride <= rowsSize / d.height;
}

template <typename F>
int guarded(F&& step)
{
    try {
        return step();
    } catch (const std::bad_alloc&) {
        return VESK_ERR_MEMORY;
    } catch (const EReadError&) {
        return VESK_ERR_READ;
    } catch (const EWriteError&) {
        return VESK_ERR_WRITE;
    } catch (const Exception&) {
        return VESK_ERR_FORMAT;
    }
}

}  // namespace

bool VeskHasWord(const std::string& text, const std::string& word)
{
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        while (i < n && isSeparator(text[i]))
            ++i;
        const size_t start = i;
        while (i < n && !isSeparator(text[i]))
            ++i;
        if (i > start && sameAsciiIgnoreCase(text.data() + start, i - start, word))
            return true;
    }
    return false;
}

int vesk_guess_filetype(const std::string& fileName)
{
    const size_t dot = fileName.rfind('.');
    if (dot == std::string::npos)
        return -1;
    const std::string ext = fileName.substr(dot + 1);
    if (ext.empty())
        return -1;
    for (int i = 0; i < kVeskCodecCount; ++i)
        if (VeskHasWord(kVeskCodecs[i]->extensions, ext))
            return i;
    return -1;
}

int vesk_read_header(const std::string& fileName, TStream& stream, int codec, const std::string& options,
                     VeskDescription& description)
{
    const VeskCodec* c = codecAt(codec);
    if (!c || !c->readHeader)
        return VESK_ERR_ARGUMENT;
    return guarded([&] { return c->readHeader(fileName, stream, options, description); });
}

int vesk_read_palette(TStream& stream, int codec, VeskDescription& description, VeskPalette& palette)
{
    const VeskCodec* c = codecAt(codec);
    if (!c || !c->readPalette)
        return VESK_ERR_ARGUMENT;
    return guarded([&] { return c->readPalette(stream, description, palette); });
}

int vesk_read_data(TStream& stream, int codec, VeskDescription& description, uint8_t* rows, int64_t rowsSize)
{
    const VeskCodec* c = codecAt(codec);
    if (!c || !c->readData || !rowsMatch(description, rows, rowsSize))
        return VESK_ERR_ARGUMENT;
    return guarded([&] { return c->readData(stream, description, rows, rowsSize); });
}

int vesk_write(const std::string& fileName, TStream& stream, int codec, const std::string& options,
               const VeskDescription& description, const VeskPalette& palette, const uint8_t* rows, int64_t rowsSize)
{
    const VeskCodec* c = codecAt(codec);
    if (!c || !c->write || !rowsMatch(description, rows, rowsSize))
        return VESK_ERR_ARGUMENT;
    return guarded([&] { return c->write(fileName, stream, options, description, palette, rows, rowsSize); });
}
