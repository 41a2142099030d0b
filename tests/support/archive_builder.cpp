// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/archive_builder.h"

#include "platform/byte_order.h"
#include "platform/streams.h"

#include <atomic>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace archive_fixture {

ScratchDir::ScratchDir(const std::string& tag)
{
    static std::atomic<int> serial{0};
    const fs::path base = fs::temp_directory_path();
    for (;;) {
        const fs::path p = base / (tag + "_" + std::to_string(::getpid()) + "_" + std::to_string(serial++));
        std::error_code ec;
        if (fs::create_directory(p, ec)) {
            path_ = p.string();
            return;
        }
        if (ec)
            throw fs::filesystem_error("cannot create scratch folder", p, ec);
    }
}

ScratchDir::~ScratchDir()
{
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string ScratchDir::file(const std::string& name) const
{
    return path_ + "/" + name;
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    writeFileBytes(path, bytes);
}

std::vector<uint8_t> noiseBytes(size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        bytes[i] = uint8_t(x >> 24);
    }
    return bytes;
}

std::vector<uint8_t> readBytes(const std::string& path)
{
    TMemoryStream m;
    m.LoadFromFile(path);
    return m.bytes();
}

std::string oddName24()
{
    return "abcdefghijklmnopqrstuvwx";
}

std::vector<DirectoryRecord> oddNameRecords()
{
    return {
        {1, 1, "plain.dff"},
        {2, 1, oddName24()},
        {3, 1, std::string("\0hidden", 7)},
        {4, 1, std::string("abc\0XYZ", 7)},
        {5, 1, "\x8a\xe8ko.txd"},
    };
}

std::vector<uint8_t> hundredByteDirectory()
{
    std::vector<uint8_t> bytes = buildDirectoryBytes({
        {5, 3, "first.txd"},
        {0, 1, "second.dff"},
        {0x100000, 2, "third.col"},
    });
    bytes.insert(bytes.end(), {0xde, 0xad, 0xbe, 0xef});
    return bytes;
}

std::vector<DirectoryRecord> manyRecords(size_t count)
{
    std::vector<DirectoryRecord> out;
    out.reserve(count);
    uint32_t sector = 0;
    for (size_t i = 1; i <= count; ++i) {
        std::string digits = std::to_string(i);
        digits.insert(0, digits.size() < 5 ? 5 - digits.size() : 0, '0');
        const uint32_t sectors = static_cast<uint32_t>(1 + i % 4);
        out.push_back({sector, sectors, "entry" + digits + (i % 10 == 0 ? ".txd" : ".dff")});
        sector += sectors;
    }
    return out;
}

TextureDictionary threeKindsDictionary()
{
    TextureDictionary d;
    const std::vector<Rgba> palette = {{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}, {255, 255, 255, 0}};
    d.textures.push_back(makeTexturePaletted8("indexed", "indexedMask", 4, 2, palette, {0, 1, 2, 3, 3, 2, 1, 0}));
    d.textures.push_back(
        makeTexture16("hicolor", "", 2, 2, {{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}, {8, 8, 8, 0}}));
    d.textures.push_back(makeTexture32("truecolor", "truecolorA", 3, 1,
                                       {{0x11, 0x22, 0x33, 0x44}, {0x55, 0x66, 0x77, 0x88}, {0x99, 0xaa, 0xbb, 0xcc}}));
    return d;
}

std::ostream& operator<<(std::ostream& out, const Rec& r)
{
    return out << "{" << r.offset << ", " << r.size << ", " << r.name << "}";
}

std::vector<Rec> recordsOf(const std::vector<uint8_t>& dir)
{
    std::vector<Rec> out;
    for (size_t at = 0; at + 32 <= dir.size(); at += 32) {
        const char* name = reinterpret_cast<const char*>(dir.data() + at + 8);
        out.push_back({readLe32(dir.data() + at), readLe32(dir.data() + at + 4), std::string(name, strnlen(name, 24))});
    }
    return out;
}

}  // namespace archive_fixture
