// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/texture_dictionary_writer.h"

#include "platform/byte_order.h"
#include "platform/exceptions.h"

#include <cstring>
#include <limits>

using namespace TxdLayout;

namespace {

void appendBytes(std::vector<uint8_t>& out, const uint8_t* p, size_t n)
{
    out.insert(out.end(), p, p + n);
}

void appendNameField(std::vector<uint8_t>& out, const std::string& text, int64_t fieldSize, const char* what)
{
    if (text.size() > static_cast<size_t>(fieldSize))
        throw Exception(std::string(what) + " longer than 32 bytes: " + text);
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(fieldSize), 0);
    if (!text.empty())
        std::memcpy(out.data() + at, text.data(), text.size());
}

void checkPixelCount(uint16_t width, uint16_t height, size_t count, const std::string& name)
{
    if (static_cast<size_t>(width) * height != count)
        throw Exception("Texture " + name + ": pixel count does not match its size");
}

}  // namespace

std::vector<uint8_t> buildTextureDictionary(const TextureDictionary& dict, std::vector<WrittenTexture>* written)
{
    std::vector<uint8_t> out;
    appendBytes(out, dict.header.data(), dict.header.size());
    const size_t count = dict.textures.size();
    if (!dict.countField && count > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
        throw Exception("Too many textures for a dictionary");
    appendLe32(out, static_cast<uint32_t>(dict.countField.value_or(static_cast<int32_t>(count))));
    if (written)
        written->clear();

    for (const TextureRecord& t : dict.textures) {
        WrittenTexture w;
        w.headerOffset = static_cast<int64_t>(out.size());
        appendBytes(out, t.lead.data(), t.lead.size());
        appendNameField(out, t.name, kNameLength, "Texture name");
        appendNameField(out, t.maskName, kMaskNameLength, "Mask name");
        appendBytes(out, t.reserved.data(), t.reserved.size());
        appendLe16(out, t.width);
        appendLe16(out, t.height);
        appendLe32(out, t.kind);
        w.imagePos = static_cast<int64_t>(out.size());

        const bool recognised = bitsOfKind(t.kind) != 0;
        if (kindHasPalette(t.kind)) {
            if (t.palette.size() != static_cast<size_t>(kPaletteSize))
                throw Exception("Texture " + t.name + ": an 8-bit texture needs a 1024-byte palette");
            appendBytes(out, t.palette.data(), t.palette.size());
        } else if (!t.palette.empty()) {
            throw Exception("Texture " + t.name + ": only the 8-bit kind has a palette");
        }
        if (recognised) {
            if (!t.dataSizeField && t.texels.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
                throw Exception("Texture " + t.name + ": too many texel bytes");
            appendLe32(out, static_cast<uint32_t>(t.dataSizeField.value_or(static_cast<int32_t>(t.texels.size()))));
        }
        w.texelOffset = static_cast<int64_t>(out.size());
        appendBytes(out, t.texels.data(), t.texels.size());
        if (recognised)
            appendBytes(out, t.trailer.data(), t.trailer.size());
        w.endOffset = static_cast<int64_t>(out.size());
        if (written)
            written->push_back(w);
    }
    return out;
}

uint16_t encodeTexel16(Rgba c)
{
    return static_cast<uint16_t>(((c.a >= 128 ? 1u : 0u) << 15) | ((c.r >> 3u) << 10) | ((c.g >> 3u) << 5)
                                 | (c.b >> 3u));
}

Rgba decodeTexel16(uint16_t v)
{
    // The layout table's one rule for widening a channel, so 31 becomes 255.
    auto widen = [](unsigned x) { return widenChannel(x, 5); };
    return Rgba{widen((v >> 10) & 31u), widen((v >> 5) & 31u), widen(v & 31u),
                static_cast<uint8_t>(v & 0x8000u ? 255 : 0)};
}

// The fields every kind of texture sets alike.
static TextureRecord textureHeader(const std::string& name, const std::string& maskName, uint16_t width,
                                   uint16_t height, uint32_t kind)
{
    TextureRecord t;
    t.name = name;
    t.maskName = maskName;
    t.width = width;
    t.height = height;
    t.kind = kind;
    return t;
}

TextureRecord makeTexture32(const std::string& name, const std::string& maskName, uint16_t width, uint16_t height,
                            const std::vector<Rgba>& pixels)
{
    checkPixelCount(width, height, pixels.size(), name);
    TextureRecord t = textureHeader(name, maskName, width, height, kKind32);
    t.texels.reserve(pixels.size() * 4);
    for (const Rgba& p : pixels) {
        t.texels.push_back(p.b);
        t.texels.push_back(p.g);
        t.texels.push_back(p.r);
        t.texels.push_back(p.a);
    }
    return t;
}

TextureRecord makeTexture16(const std::string& name, const std::string& maskName, uint16_t width, uint16_t height,
                            const std::vector<Rgba>& pixels)
{
    checkPixelCount(width, height, pixels.size(), name);
    TextureRecord t = textureHeader(name, maskName, width, height, kKind16);
    t.texels.reserve(pixels.size() * 2);
    for (const Rgba& p : pixels)
        appendLe16(t.texels, encodeTexel16(p));
    return t;
}

TextureRecord makeTexturePaletted8(const std::string& name, const std::string& maskName, uint16_t width,
                                   uint16_t height, const std::vector<Rgba>& palette,
                                   const std::vector<uint8_t>& indices)
{
    checkPixelCount(width, height, indices.size(), name);
    if (palette.size() > static_cast<size_t>(kPaletteEntries))
        throw Exception("Texture " + name + ": more than 256 palette colours");
    for (uint8_t i : indices)
        if (i >= palette.size())
            throw Exception("Texture " + name + ": palette index outside the palette");
    TextureRecord t = textureHeader(name, maskName, width, height, kKindPaletted8);
    t.palette.assign(static_cast<size_t>(kPaletteSize), 0);
    for (size_t i = 0; i < palette.size(); ++i) {
        t.palette[4 * i] = palette[i].r;
        t.palette[4 * i + 1] = palette[i].g;
        t.palette[4 * i + 2] = palette[i].b;
        t.palette[4 * i + 3] = palette[i].a;
    }
    t.texels = indices;
    return t;
}
