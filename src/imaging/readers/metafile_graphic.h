// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// TMetaFileGraphic: a bitmap image that reads WMF and EMF files.
//
// A placeable Windows metafile is converted to SVG by libwmf, an enhanced
// metafile by libemf2svg; the SVG is drawn with Qt Svg onto a white
// true-colour bitmap, the metafile's own frame (placeable bounding box, EMF
// frame) mapped onto the whole bitmap.
#include "imaging/dib_graphic.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class TMetaFileGraphic : public TDibGraphic {
    QX_GRAPHIC_CLASS()
public:
    // "Metafile is not valid" for anything but an enhanced metafile or a
    // placeable Windows metafile the converters accept; "Image is too large"
    // when the picture would not fit in memory.
    void ReadImage(TStream& stream, int index) override;
};

enum class MetafileKind { Invalid, Placeable, Enhanced };

// What a metafile's headers say, before anything is converted.
struct MetafileInfo {
    MetafileKind kind = MetafileKind::Invalid;
    int64_t width = 0;  // picture size in pixels on the current screen
    int64_t height = 0;
    int64_t length = 0;  // bytes that belong to the metafile
};

// Looks at the headers at the start of `data`: an enhanced metafile (first
// record of type 1 with " EMF" at byte 40, at least 101 bytes) or a placeable
// Windows metafile (key 0x9AC6CDD7 and a correct checksum), and computes the
// picture's size in pixels from them. Kind Invalid when neither.
MetafileInfo InspectMetafile(const uint8_t* data, size_t size);

// Copies an enhanced metafile, keeping only the records whose counts,
// offsets and bitmaps lie inside them (and, of those, the kinds that are
// drawn); the header's description is dropped and a clean end record is
// written. False when the header or its size fields are not sound.
bool FilterEnhancedMetafile(const uint8_t* data, size_t size, std::vector<uint8_t>& out);

// Copies a placeable Windows metafile the same way: records whose parameters
// are shorter than they say are left out, object-creating records that cannot
// be kept are replaced by an empty object (so later object numbers stay
// right), and a clean end record is written. False when the headers are not
// sound.
bool FilterPlaceableMetafile(const uint8_t* data, size_t size, std::vector<uint8_t>& out);

// A device-independent bitmap header (and colour table) of `bmiSize` bytes
// whose pixels take `bitsSize` bytes: 1 to 32 bits per pixel, uncompressed or
// with bit-field masks, every row present. Width and height (rows) on success.
bool MetafileDibIsSound(const uint8_t* bmi, uint64_t bmiSize, uint64_t bitsSize, int64_t* width, int64_t* height);
// The same for a packed bitmap: header, colour table and pixels in `size` bytes.
bool MetafilePackedDibIsSound(const uint8_t* dib, uint64_t size, int64_t* width, int64_t* height);

// Tests only: limits libwmf's font lookup to `directory` (nullptr: libwmf's
// own lookup again). Pointed at an empty directory, it shows what a system
// without any font libwmf can load gets: the picture, with estimated text
// metrics.
void SetMetafileFontDirectoryForTesting(const char* directory);

// a * b / c rounded to the nearest integer, halves away from zero; 0 when c is 0.
int64_t MulDivRound(int64_t a, int64_t b, int64_t c);
