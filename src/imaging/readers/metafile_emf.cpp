// SPDX-License-Identifier: GPL-2.0-or-later
// Record filters that stand between metafiles and the converters.
//
// libemf2svg and libwmf trust the counts, offsets and bitmap sizes inside
// records: a record that says it holds more than it does makes them read past
// it. Before a metafile is converted, it is copied record by record, and only
// records whose every count and offset lies inside the record (and whose
// bitmaps are plain, complete device-independent bitmaps) are copied.
#include "imaging/readers/metafile_graphic.h"
#include "platform/byte_order.h"

#include <cstring>

namespace {

int32_t s32(const uint8_t* p)
{
    return int32_t(readLe32(p));
}

void put32(std::vector<uint8_t>& out, size_t at, uint32_t v)
{
    out[at] = uint8_t(v);
    out[at + 1] = uint8_t(v >> 8);
    out[at + 2] = uint8_t(v >> 16);
    out[at + 3] = uint8_t(v >> 24);
}

// True when [offset, offset + length) lies inside [0, size).
bool inside(uint64_t offset, uint64_t length, uint64_t size)
{
    return offset <= size && length <= size - offset;
}

// Enhanced metafile record types.
enum : uint32_t {
    EMR_HEADER = 1,
    EMR_POLYBEZIER = 2,
    EMR_POLYLINETO = 6,
    EMR_POLYPOLYLINE = 7,
    EMR_POLYPOLYGON = 8,
    EMR_EOF = 14,
    EMR_SELECTOBJECT = 37,
    EMR_CREATEPEN = 38,
    EMR_CREATEBRUSHINDIRECT = 39,
    EMR_DELETEOBJECT = 40,
    EMR_POLYDRAW = 56,
    EMR_FILLRGN = 71,
    EMR_FRAMERGN = 72,
    EMR_INVERTRGN = 73,
    EMR_PAINTRGN = 74,
    EMR_EXTSELECTCLIPRGN = 75,
    EMR_BITBLT = 76,
    EMR_STRETCHBLT = 77,
    EMR_SETDIBITSTODEVICE = 80,
    EMR_STRETCHDIBITS = 81,
    EMR_EXTCREATEFONTINDIRECTW = 82,
    EMR_EXTTEXTOUTA = 83,
    EMR_EXTTEXTOUTW = 84,
    EMR_POLYBEZIER16 = 85,
    EMR_POLYLINETO16 = 89,
    EMR_POLYPOLYLINE16 = 90,
    EMR_POLYPOLYGON16 = 91,
    EMR_POLYDRAW16 = 92,
    EMR_CREATEMONOBRUSH = 93,
    EMR_CREATEDIBPATTERNBRUSHPT = 94,
    EMR_EXTCREATEPEN = 95,
    EMR_ALPHABLEND = 114,
    EMR_SETLAYOUT = 115,
    EMR_TRANSPARENTBLT = 116,
};

// Records of a fixed layout that are copied when they are at least this long.
uint32_t fixedRecordSize(uint32_t type)
{
    switch (type) {
    case 9:
    case 10:
    case 11:
    case 12:
    case 13:  // window and viewport extents and origins, brush origin
        return 16;
    case 15:  // SETPIXELV
        return 20;
    case 16:
    case 17:
    case 18:
    case 19:
    case 20:
    case 21:
    case 22:
    case 24:
    case 25:  // modes and colours
        return 12;
    case 26:
    case 27:  // OFFSETCLIPRGN, MOVETOEX
        return 16;
    case 28:
    case 33:  // SETMETARGN, SAVEDC
        return 8;
    case 29:
    case 30:
    case 31:
    case 32:  // clip rectangles, scaling
        return 24;
    case 34:  // RESTOREDC
        return 12;
    case 35:  // SETWORLDTRANSFORM
        return 32;
    case 36:  // MODIFYWORLDTRANSFORM
        return 36;
    case 41:  // ANGLEARC
        return 28;
    case 42:
    case 43:  // ELLIPSE, RECTANGLE
        return 24;
    case 44:  // ROUNDRECT
        return 32;
    case 45:
    case 46:
    case 47:
    case 55:  // ARC, CHORD, PIE, ARCTO
        return 40;
    case 53:  // EXTFLOODFILL
        return 24;
    case 54:  // LINETO
        return 16;
    case 57:
    case 58:
    case 67:  // SETARCDIRECTION, SETMITERLIMIT, SELECTCLIPPATH
        return 12;
    case 59:
    case 60:
    case 61:
    case 65:
    case 66:
    case 68:  // path brackets and edits
        return 8;
    case 62:
    case 63:
    case 64:  // FILLPATH, STROKEANDFILLPATH, STROKEPATH
        return 24;
    case EMR_SETLAYOUT: return 12;
    default: return 0;
    }
}

constexpr uint32_t kStockObject = 0x80000000u;
constexpr uint32_t kLastStockObject = 0x80000013u;  // DC_PEN

class EmfFilter {
public:
    EmfFilter(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool run(std::vector<uint8_t>& out)
    {
        if (size_ < 88 || readLe32(data_) != EMR_HEADER)
            return false;
        const uint32_t headerSize = readLe32(data_ + 4);
        const uint32_t length = readLe32(data_ + 48);
        if (headerSize < 88 || headerSize % 4 != 0 || length > size_ || headerSize > length)
            return false;
        handles_ = readLe16(data_ + 56);

        out.assign(data_, data_ + headerSize);
        // The description and the pixel format are not needed and not copied.
        put32(out, 60, 0);
        put32(out, 64, 0);
        if (headerSize >= 100) {
            put32(out, 88, 0);
            put32(out, 92, 0);
        }
        uint32_t records = 1;
        size_t pos = headerSize;
        while (pos + 8 <= length) {
            const uint8_t* r = data_ + pos;
            const uint32_t type = readLe32(r);
            const uint32_t recordSize = readLe32(r + 4);
            if (recordSize < 8 || recordSize % 4 != 0 || recordSize > length - pos)
                break;  // the chain of records is broken here
            if (type == EMR_EOF)
                break;
            if (keep(type, r, recordSize)) {
                out.insert(out.end(), r, r + recordSize);
                ++records;
            }
            pos += recordSize;
        }
        // A clean end record: no palette.
        const uint8_t eof[20] = {EMR_EOF, 0, 0, 0, 20, 0, 0, 0, 0, 0, 0, 0, 16, 0, 0, 0, 20, 0, 0, 0};
        out.insert(out.end(), eof, eof + sizeof eof);
        ++records;
        put32(out, 48, uint32_t(out.size()));
        put32(out, 52, records);
        return true;
    }

private:
    bool handle(uint32_t ih, bool stockAllowed) const
    {
        if (stockAllowed && ih >= kStockObject && ih <= kLastStockObject)
            return true;
        return ih >= 1 && ih < handles_;
    }

    // A device-independent bitmap described by the four offset/size fields of a
    // record; both parts must lie inside the record and hold what the bitmap
    // header says. An absent bitmap (both sizes 0) is allowed when `optional`.
    static bool bitmap(const uint8_t* r, uint32_t size, uint32_t offBmi, uint32_t cbBmi, uint32_t offBits,
                       uint32_t cbBits, bool optional, int64_t* width = nullptr, int64_t* height = nullptr)
    {
        if (cbBmi == 0 && cbBits == 0)
            return optional;
        if (!inside(offBmi, cbBmi, size) || !inside(offBits, cbBits, size))
            return false;
        int64_t w = 0, h = 0;
        if (!MetafileDibIsSound(r + offBmi, cbBmi, cbBits, &w, &h))
            return false;
        if (width)
            *width = w;
        if (height)
            *height = h;
        return true;
    }

    // The source rectangle of a blit lies inside its bitmap.
    static bool sourceInside(int32_t x, int32_t y, int32_t cx, int32_t cy, int64_t w, int64_t h)
    {
        return x >= 0 && y >= 0 && cx >= 0 && cy >= 0 && int64_t(x) + cx <= w && int64_t(y) + cy <= h;
    }

    static bool region(const uint8_t* r, uint32_t size, uint32_t at, uint32_t cb, bool emptyAllowed)
    {
        if (cb == 0)
            return emptyAllowed;
        if (cb < 32 || !inside(at, cb, size))
            return false;
        const uint8_t* rgn = r + at;
        const uint64_t count = readLe32(rgn + 8);
        return readLe32(rgn) == 32 && 32 + count * 16 <= cb;
    }

    bool keep(uint32_t type, const uint8_t* r, uint32_t size) const
    {
        if (const uint32_t fixed = fixedRecordSize(type))
            return size >= fixed;
        switch (type) {
        case EMR_POLYBEZIER:
        case 3:
        case 4:
        case 5:
        case EMR_POLYLINETO:  // 32-bit points
            return size >= 28 && 28 + uint64_t(readLe32(r + 24)) * 8 <= size;
        case EMR_POLYBEZIER16:
        case 86:
        case 87:
        case 88:
        case EMR_POLYLINETO16:  // 16-bit points
            return size >= 28 && 28 + uint64_t(readLe32(r + 24)) * 4 <= size;
        case EMR_POLYPOLYLINE:
        case EMR_POLYPOLYGON:
        case EMR_POLYPOLYLINE16:
        case EMR_POLYPOLYGON16: {
            if (size < 32)
                return false;
            const uint64_t polys = readLe32(r + 24), points = readLe32(r + 28);
            const uint64_t pointSize = (type == EMR_POLYPOLYLINE16 || type == EMR_POLYPOLYGON16) ? 4 : 8;
            if (32 + polys * 4 + points * pointSize > size)
                return false;
            uint64_t sum = 0;
            for (uint64_t i = 0; i < polys; ++i)
                sum += readLe32(r + 32 + i * 4);
            return sum <= points;
        }
        case EMR_POLYDRAW: return size >= 28 && 28 + uint64_t(readLe32(r + 24)) * 9 <= size;
        case EMR_POLYDRAW16: return size >= 28 && 28 + uint64_t(readLe32(r + 24)) * 5 <= size;
        case EMR_SELECTOBJECT: return size >= 12 && handle(readLe32(r + 8), true);
        case EMR_DELETEOBJECT: return size >= 12 && handle(readLe32(r + 8), false);
        case EMR_CREATEPEN: return size >= 28 && handle(readLe32(r + 8), false);
        case EMR_CREATEBRUSHINDIRECT: return size >= 24 && handle(readLe32(r + 8), false);
        case EMR_EXTCREATEFONTINDIRECTW: return size >= 104 && handle(readLe32(r + 8), false);
        case EMR_CREATEMONOBRUSH:
        case EMR_CREATEDIBPATTERNBRUSHPT:
            return size >= 32 && handle(readLe32(r + 8), false) && readLe32(r + 12) == 0
                   && bitmap(r, size, readLe32(r + 16), readLe32(r + 20), readLe32(r + 24), readLe32(r + 28), false);
        case EMR_EXTCREATEPEN: {
            if (size < 52 || !handle(readLe32(r + 8), false))
                return false;
            if (52 + uint64_t(readLe32(r + 48)) * 4 > size)
                return false;
            return bitmap(r, size, readLe32(r + 12), readLe32(r + 16), readLe32(r + 20), readLe32(r + 24), true);
        }
        case EMR_FILLRGN:
            return size >= 32 && handle(readLe32(r + 28), true) && region(r, size, 32, readLe32(r + 24), false);
        case EMR_FRAMERGN:
            return size >= 40 && handle(readLe32(r + 28), true) && region(r, size, 40, readLe32(r + 24), false);
        case EMR_INVERTRGN:
        case EMR_PAINTRGN: return size >= 28 && region(r, size, 28, readLe32(r + 24), false);
        case EMR_EXTSELECTCLIPRGN: return size >= 16 && region(r, size, 16, readLe32(r + 8), true);
        case EMR_BITBLT: {
            if (size < 100 || readLe32(r + 80) != 0)
                return false;
            int64_t w = 0, h = 0;
            if (readLe32(r + 88) == 0 && readLe32(r + 96) == 0)
                return true;  // a pattern or colour fill without a bitmap
            return bitmap(r, size, readLe32(r + 84), readLe32(r + 88), readLe32(r + 92), readLe32(r + 96), false, &w,
                          &h)
                   && sourceInside(s32(r + 44), s32(r + 48), s32(r + 32), s32(r + 36), w, h);
        }
        case EMR_STRETCHBLT:
        case EMR_ALPHABLEND:
        case EMR_TRANSPARENTBLT: {
            if (size < 108 || readLe32(r + 80) != 0)
                return false;
            int64_t w = 0, h = 0;
            if (type == EMR_STRETCHBLT && readLe32(r + 88) == 0 && readLe32(r + 96) == 0)
                return true;
            return bitmap(r, size, readLe32(r + 84), readLe32(r + 88), readLe32(r + 92), readLe32(r + 96), false, &w,
                          &h)
                   && sourceInside(s32(r + 44), s32(r + 48), s32(r + 100), s32(r + 104), w, h);
        }
        case EMR_SETDIBITSTODEVICE: {
            if (size < 76 || readLe32(r + 64) != 0)
                return false;
            int64_t w = 0, h = 0;
            if (!bitmap(r, size, readLe32(r + 48), readLe32(r + 52), readLe32(r + 56), readLe32(r + 60), false, &w, &h))
                return false;
            const uint64_t start = readLe32(r + 68), lines = readLe32(r + 72);
            return sourceInside(s32(r + 32), s32(r + 36), s32(r + 40), s32(r + 44), w, h)
                   && start + lines <= uint64_t(h);
        }
        case EMR_STRETCHDIBITS: {
            if (size < 80 || readLe32(r + 64) != 0)
                return false;
            int64_t w = 0, h = 0;
            return bitmap(r, size, readLe32(r + 48), readLe32(r + 52), readLe32(r + 56), readLe32(r + 60), false, &w,
                          &h)
                   && sourceInside(s32(r + 32), s32(r + 36), s32(r + 40), s32(r + 44), w, h);
        }
        case EMR_EXTTEXTOUTA:
        case EMR_EXTTEXTOUTW: {
            if (size < 76)
                return false;
            const uint64_t chars = readLe32(r + 44);
            const uint64_t charSize = type == EMR_EXTTEXTOUTW ? 2 : 1;
            const uint32_t options = readLe32(r + 52);
            const uint64_t dxPerChar = (options & 0x2000) ? 8 : 4;  // ETO_PDY: x and y spacing
            // With ETO_NO_RECT the text's rectangle is left out and the spacing offset moves up.
            const uint32_t dxAt = (options & 0x100) ? 56 : 72;
            if (chars > 0x10000 || !inside(readLe32(r + 48), chars * charSize, size))
                return false;
            return chars == 0 || inside(readLe32(r + dxAt), chars * dxPerChar, size);
        }
        default: return false;  // comments, palettes, colour spaces, escapes and the rare rest are not copied
        }
    }

    const uint8_t* data_;
    size_t size_;
    uint32_t handles_ = 0;
};

}  // namespace

bool MetafileDibIsSound(const uint8_t* bmi, uint64_t bmiSize, uint64_t bitsSize, int64_t* width, int64_t* height)
{
    if (bmiSize < 40)
        return false;
    const uint32_t headerSize = readLe32(bmi);
    if (headerSize < 40 || headerSize > bmiSize)
        return false;
    const int64_t w = s32(bmi + 4);
    const int64_t h = s32(bmi + 8);
    const int planes = readLe16(bmi + 12), bits = readLe16(bmi + 14);
    const uint32_t compression = readLe32(bmi + 16);
    const uint32_t used = readLe32(bmi + 32);
    if (w <= 0 || h == 0 || h == INT32_MIN || planes != 1)
        return false;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return false;
    const int64_t rows = h < 0 ? -h : h;
    uint64_t table = 0;
    if (compression == 0) {
        if (bits <= 8) {
            const uint64_t full = uint64_t(1) << bits;
            if (used > full)
                return false;
            table = (used ? used : full) * 4;
        } else if (used > 256) {
            return false;
        } else {
            table = uint64_t(used) * 4;
        }
    } else if (compression == 3 && (bits == 16 || bits == 32)) {
        table = headerSize == 40 ? 12 : 0;  // the three masks follow a 40-byte header
    } else {
        return false;  // run-length, JPEG and PNG bitmaps are not passed on
    }
    if (headerSize + table > bmiSize)
        return false;
    const uint64_t stride = uint64_t(DibRowStride(w, bits));
    if (stride > bitsSize || uint64_t(rows) > bitsSize / stride)
        return false;  // fewer pixel bytes than the header promises
    if (uint64_t(w) * uint64_t(rows) > (uint64_t(1) << 26))
        return false;
    if (width)
        *width = w;
    if (height)
        *height = rows;
    return true;
}

bool MetafilePackedDibIsSound(const uint8_t* dib, uint64_t size, int64_t* width, int64_t* height)
{
    if (size < 40)
        return false;
    // Header and colour table first; the pixels take the rest.
    const uint32_t headerSize = readLe32(dib);
    const int bits = readLe16(dib + 14);
    const uint32_t compression = readLe32(dib + 16);
    const uint32_t used = readLe32(dib + 32);
    uint64_t table = 0;
    if (compression == 3)
        table = headerSize == 40 ? 12 : 0;
    else if (bits <= 8 && bits > 0)
        table = (used ? uint64_t(used) : (uint64_t(1) << bits)) * 4;
    else
        table = uint64_t(used) * 4;
    const uint64_t bmiSize = uint64_t(headerSize) + table;
    if (headerSize < 40 || bmiSize > size)
        return false;
    return MetafileDibIsSound(dib, bmiSize, size - bmiSize, width, height);
}

bool FilterEnhancedMetafile(const uint8_t* data, size_t size, std::vector<uint8_t>& out)
{
    return EmfFilter(data, size).run(out);
}
