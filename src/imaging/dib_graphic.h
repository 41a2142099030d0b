// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// TDibGraphic: the in-memory raster image of the image library. Pixels are
// stored like the pixel array of a BMP file: rows bottom-up, each padded to a
// multiple of four bytes; RowPointer(y) counts rows from the top.
#include "imaging/dib_palette.h"
#include "imaging/errors.h"
#include "imaging/limits.h"
#include "platform/graphic.h"

#include <QImage>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#pragma pack(push, 1)
struct TBitmapInfoHeader {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};
#pragma pack(pop)
static_assert(sizeof(TBitmapInfoHeader) == 40);

int BitsPerPixel(TImageFormat format);
bool HasPalette(TImageFormat format);                     // every format but ifRgb24
const char* ImageFormatDescription(TImageFormat format);  // "True color", ...
// Pixels per metre as the header stores them to dots per inch:
// round(ppm * 127 / 5000), halves to even.
int DpiFromPelsPerMeter(int32_t pelsPerMeter);

class TDibGraphic : public TGraphic {
    QX_GRAPHIC_CLASS()
public:
    TDibGraphic();
    ~TDibGraphic() override;

    // --- picture operations
    // From a TDibGraphic (or nullptr): copies size, format, palette,
    // resolution and pixels. From any other picture: a black ifRgb24 bitmap of
    // its size onto which the picture draws itself.
    void Assign(const TGraphic* source) override;
    // From the platform bitmap (a QImage): 1/4/8/24 bpp keep their depth and
    // colour table; 16 and 32 bpp are fetched as 24-bit.
    void AssignFromPlatformBitmap(const QImage& bitmap);
    // To a TDibGraphic: the destination assigns from this bitmap. Any other
    // destination: "Cannot assign a %s to a %s".
    virtual void CopyTo(TGraphic* destination) const;
    // To the platform bitmap: ToQImage() as a 24-bit image ("GetDIB failed"
    // when memory runs short).
    QImage CopyToPlatformBitmap() const;
    // Scaled drawing: halftone (area averaging) for palette formats,
    // colour-on-colour (nearest pixel) for ifRgb24; unscaled when rect has
    // the image's size. Fires OnAfterDraw.
    void Draw(QPainter& canvas, const QRect& rect) const override;
    bool IsEmpty() const override;
    int Width() const override;
    int Height() const override;
    // Both fail with "Dimensions must be change with the NewImage method".
    void SetWidth(int value) override;
    void SetHeight(int value) override;
    // Single-image mode: ReadImage(stream, ImageIndex).
    void ReadFromStream(TStream& stream) override;
    // The base has no writer: "Method %s not implemented for %s class".
    void WriteToStream(TStream& stream) override;

    virtual int CountImages(TStream& stream);            // 1
    virtual void ReadImage(TStream& stream, int index);  // does nothing here
    virtual void AddImageToStream(TStream& stream);      // "The %s format does not support multiple images"

    // The only way to give the bitmap a size and format. A palette format
    // without `palette` takes its default palette; a zero resolution takes the
    // display's. Zero-filled pixels. On failure the bitmap is left empty.
    void NewImage(int32_t width, int32_t height, TImageFormat format, const TLogicalPalette* palette,
                  uint16_t resolutionX, uint16_t resolutionY);

    TImageFormat ImageFormat() const { return format_; }
    const TLogicalPalette& Palette() const { return palette_; }
    // Replaces the palette of a palette-format bitmap (entries beyond
    // EntryCount become black) and updates the colour table and converter.
    void SetPalette(const TLogicalPalette& palette);
    int32_t RowStride() const { return rowStride_; }
    const TBitmapInfoHeader& Header() const { return header_; }
    // Colour table: 256 entries blue, green, red, 0.
    const uint8_t* ColorTable() const { return colorTable_; }

    // Address of picture row y (0 = top). No range check.
    uint8_t* RowPointer(int y) { return bits_ + int64_t(Height() - 1 - y) * rowStride_; }
    const uint8_t* RowPointer(int y) const { return bits_ + int64_t(Height() - 1 - y) * rowStride_; }
    // Start of the pixel buffer (the bottom row); Height() * RowStride() bytes.
    uint8_t* Bits() { return bits_; }
    const uint8_t* Bits() const { return bits_; }

    // Dots per inch, stored as pixels per metre (round half to even both ways).
    int ResolutionX() const;
    int ResolutionY() const;
    void SetResolutionX(int dpi);
    void SetResolutionY(int dpi);

    // Pixel access; no range checks (0 <= x < Width, 0 <= y < Height).
    uint32_t GetPixelColor(int x, int y) const;
    void SetPixelColor(int x, int y, uint32_t color);
    // Both fail with "The image does not have a palette" on ifRgb24.
    int GetPixelIndex(int x, int y) const;
    void SetPixelIndex(int x, int y, int index);

    // nullptr for ifRgb24 and for an empty bitmap.
    TRgbToPaletteConverter* Converter() { return converter_.get(); }

    int ImageIndex = 1;
    bool MultiImage = false;
    // Alpha beside the colour. When KeepAlpha is set before reading, a reader
    // of a picture with transparency (PNG alpha or tRNS, 32-bit TGA, TIFF
    // extra samples, 32-bit BMP, icons) leaves the picture's straight colour
    // in the pixels, not flattened onto a background, and its alpha here:
    // Width x Height bytes, top row first. Empty means opaque. Without
    // KeepAlpha nothing here is filled and every reader's colours are as
    // they always are. NewImage empties it; nothing else keeps it in step.
    bool KeepAlpha = false;
    std::vector<uint8_t> AlphaPlane;
    std::function<void(TDibGraphic&)> OnAfterDraw;

    // A deep-copied QImage of the picture, top row first (Indexed8 with the
    // colour table for palette formats, RGB888 for ifRgb24). For drawing.
    QImage ToQImage() const;

private:
    void release();
    // NewImage; with `zeroed` false the pixel store is left as allocated,
    // for a caller that overwrites every byte of it at once.
    void newImage(int32_t width, int32_t height, TImageFormat format, const TLogicalPalette* palette,
                  uint16_t resolutionX, uint16_t resolutionY, bool zeroed);

    TImageFormat format_ = ifMonochrome;
    // Aligned so that every field of the (packed) header sits at its natural alignment.
    alignas(4) TBitmapInfoHeader header_{};
    uint8_t colorTable_[256 * 4]{};
    TLogicalPalette palette_{};
    int32_t rowStride_ = 0;
    uint8_t* bits_ = nullptr;
    // The pixel store comes from calloc, or for a large one straight from
    // the system as zero pages that may be huge pages (a photo's store is
    // then filled with a few hundred page faults instead of tens of
    // thousands); a refused allocation is a plain null pointer.
    struct StoreDeleter {
        size_t mapped;  // the mapping's length; 0 (value-initialised): from calloc or malloc
        void operator()(uint8_t* p) const noexcept;
    };
    std::unique_ptr<uint8_t[], StoreDeleter> store_;
    std::unique_ptr<TRgbToPaletteConverter> converter_;
};

// Picture row y as blue, green, red bytes: the row itself for ifRgb24,
// otherwise `scratch` (at least 3 × width bytes) filled through GetPixelColor.
const uint8_t* RowAsBgr(const TDibGraphic& bitmap, int y, std::vector<uint8_t>& scratch);

// Pixels [x0, x1) of row `row` of a picture of `format` as 32-bit colours:
// palette indices through `lut` (256 entries), ifRgb24 pixels as
// 0xRRGGBB with `high` (e.g. an opaque alpha) in the top byte.
void DecodeRowColours(TImageFormat format, const uint8_t* row, const uint32_t* lut, int x0, int x1, uint32_t* out,
                      uint32_t high);
