// SPDX-License-Identifier: GPL-2.0-or-later
// The bitmap image: its store, size, resolution, pixel access, copying,
// drawing and stream operations.
#include "imaging/dib_graphic.h"

#include "imaging/halftone_scaler.h"

#include "platform/environment.h"
#include "platform/streams.h"

#include <QPainter>
#include <QTransform>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/mman.h>
#include <vector>

QX_DEFINE_GRAPHIC_CLASS(TDibGraphic, TGraphic);

namespace {

// n / d rounded to the nearest integer, ties to even; d > 0.
int64_t divRoundHalfEven(int64_t n, int64_t d)
{
    int64_t q = n / d;
    int64_t r = n % d;
    if (r < 0) {
        --q;
        r += d;
    }
    if (2 * r > d || (2 * r == d && (q & 1)))
        ++q;
    return q;
}

int32_t pelsPerMeterFromDpi(int dpi)
{
    return int32_t(divRoundHalfEven(int64_t(resolutionArgument(dpi)) * 5000, 127));
}

// The part of `rect` that can reach the canvas's device: the device (and
// clip) rectangle mapped back into the painter's coordinates bounds it for
// any invertible transform. Empty when nothing can be drawn.
QRect visiblePart(const QPainter& canvas, const QRect& rect)
{
    if (rect.width() <= 0 || rect.height() <= 0 || !canvas.isActive())
        return QRect();
    QRect visible = rect;
    bool invertible = false;
    const QTransform inverse = canvas.worldTransform().inverted(&invertible);
    if (canvas.device() && invertible)
        visible &= inverse.mapRect(QRect(0, 0, canvas.device()->width(), canvas.device()->height()));
    if (canvas.hasClipping())
        visible &= canvas.clipBoundingRect().toAlignedRect();
    return visible;
}

}  // namespace

// ---------------------------------------------------------------------------
// Format facts

int BitsPerPixel(TImageFormat format)
{
    switch (format) {
    case ifMonochrome: return 1;
    case ifGrayscale16:
    case ifColor16: return 4;
    case ifGrayscale256:
    case ifColor256: return 8;
    case ifRgb24: return 24;
    }
    throw ETavrinError("Internal error: Invalid image format");
}

bool HasPalette(TImageFormat format)
{
    return format != ifRgb24;
}

const char* ImageFormatDescription(TImageFormat format)
{
    switch (format) {
    case ifMonochrome: return "Black and white";
    case ifGrayscale16: return "16 shades of gray";
    case ifGrayscale256: return "256 shades of gray";
    case ifColor16: return "16 color";
    case ifColor256: return "256 color";
    case ifRgb24: return "True color";
    }
    throw ETavrinError("Internal error: Invalid image format");
}

int DpiFromPelsPerMeter(int32_t pelsPerMeter)
{
    return int(divRoundHalfEven(int64_t(pelsPerMeter) * 127, 5000));
}

// ---------------------------------------------------------------------------
// TDibGraphic: life cycle

void TDibGraphic::StoreDeleter::operator()(uint8_t* p) const noexcept
{
    if (mapped)
        ::munmap(p, mapped);
    else
        std::free(p);
}

namespace {

// Stores from this size on are mapped on their own and offered huge pages.
constexpr int64_t kMappedStoreBytes = int64_t(8) << 20;

uint8_t* mapStore(size_t bytes)
{
    void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return nullptr;
#ifdef MADV_HUGEPAGE
    ::madvise(p, bytes, MADV_HUGEPAGE);  // a hint: without it the pages are ordinary ones
#endif
    return static_cast<uint8_t*>(p);
}

}  // namespace

TDibGraphic::TDibGraphic() = default;

TDibGraphic::~TDibGraphic()
{
    release();
}

void TDibGraphic::release()
{
    converter_.reset();
    store_.reset();
    bits_ = nullptr;
    rowStride_ = 0;
    std::memset(&header_, 0, sizeof header_);
    std::memset(colorTable_, 0, sizeof colorTable_);
}

void TDibGraphic::NewImage(int32_t width, int32_t height, TImageFormat format, const TLogicalPalette* palette,
                           uint16_t resolutionX, uint16_t resolutionY)
{
    newImage(width, height, format, palette, resolutionX, resolutionY, true);
}

void TDibGraphic::newImage(int32_t width, int32_t height, TImageFormat format, const TLogicalPalette* palette,
                           uint16_t resolutionX, uint16_t resolutionY, bool zeroed)
{
    AlphaPlane.clear();
    // The palette may be this bitmap's own (or a default one); take a copy
    // before anything is cleared.
    TLogicalPalette newPalette{};
    if (format <= ifColor256) {
        const TLogicalPalette& src = palette ? *palette : DefaultPalette(format);
        const int count = std::min<int>(src.EntryCount, 256);
        newPalette.EntryCount = uint16_t(count);
        std::memcpy(newPalette.Entries, src.Entries, sizeof(TPaletteEntry) * size_t(count));
        newPalette.Version = 0x300;
    }

    release();
    try {
        if (format > ifRgb24)
            throw ETavrinError("Internal error: Invalid image format");
        format_ = format;

        const int bpp = BitsPerPixel(format);
        // A store needs at least one pixel, and its size must be addressable.
        if (width <= 0 || height <= 0)
            throw ETavrinError("CreateDibSection failed");
        const int64_t stride = DibRowStride(width, bpp);
        if (stride > kMaxImageBytes || stride * int64_t(height) > kMaxImageBytes)
            throw ETavrinError("CreateDibSection failed");
        const int64_t imageSize = stride * int64_t(height);

        header_.biSize = 40;
        header_.biWidth = width;
        header_.biHeight = height;
        header_.biPlanes = 1;
        header_.biBitCount = uint16_t(bpp);
        header_.biCompression = 0;
        rowStride_ = int32_t(stride);
        header_.biSizeImage = uint32_t(imageSize);
        header_.biClrImportant = 0;

        if (format == ifRgb24) {
            header_.biClrUsed = 0;
        } else {
            header_.biClrUsed = newPalette.EntryCount;
            for (int i = 0; i < newPalette.EntryCount; ++i) {
                colorTable_[i * 4 + 0] = newPalette.Entries[i].peBlue;
                colorTable_[i * 4 + 1] = newPalette.Entries[i].peGreen;
                colorTable_[i * 4 + 2] = newPalette.Entries[i].peRed;
                colorTable_[i * 4 + 3] = 0;
            }
            converter_ = std::make_unique<TRgbToPaletteConverter>(palette_);
        }

        if (resolutionX)
            SetResolutionX(resolutionX);
        else
            SetResolutionX(screenDpiX());
        if (resolutionY)
            SetResolutionY(resolutionY);
        else
            SetResolutionY(screenDpiY());

        // A new deleter each time: it records how its own store was made.
        using Store = std::unique_ptr<uint8_t[], StoreDeleter>;
        if (imageSize >= kMappedStoreBytes)
            store_ = Store(mapStore(size_t(imageSize)), StoreDeleter{size_t(imageSize)});
        else
            store_ = Store(
                static_cast<uint8_t*>(zeroed ? std::calloc(size_t(imageSize), 1) : std::malloc(size_t(imageSize))),
                StoreDeleter{0});
        if (!store_)
            throw ETavrinError("CreateDibSection failed");
        bits_ = store_.get();

        palette_ = newPalette;  // all zero for ifRgb24
    } catch (const std::bad_alloc&) {
        release();
        throw ETavrinError("CreateDibSection failed");
    } catch (...) {
        release();
        throw;
    }
}

// ---------------------------------------------------------------------------
// Size, state, resolution

bool TDibGraphic::IsEmpty() const
{
    return bits_ == nullptr;
}
int TDibGraphic::Width() const
{
    return header_.biWidth;
}
int TDibGraphic::Height() const
{
    return header_.biHeight;
}

void TDibGraphic::SetWidth(int)
{
    throw ETavrinError("Dimensions must be change with the NewImage method");
}
void TDibGraphic::SetHeight(int)
{
    throw ETavrinError("Dimensions must be change with the NewImage method");
}

int TDibGraphic::ResolutionX() const
{
    return DpiFromPelsPerMeter(header_.biXPelsPerMeter);
}
int TDibGraphic::ResolutionY() const
{
    return DpiFromPelsPerMeter(header_.biYPelsPerMeter);
}
void TDibGraphic::SetResolutionX(int dpi)
{
    header_.biXPelsPerMeter = pelsPerMeterFromDpi(dpi);
}
void TDibGraphic::SetResolutionY(int dpi)
{
    header_.biYPelsPerMeter = pelsPerMeterFromDpi(dpi);
}

void TDibGraphic::SetPalette(const TLogicalPalette& palette)
{
    if (format_ == ifRgb24)
        throw ETavrinError("The image does not have a palette");
    TLogicalPalette p{};
    const int count = std::min<int>(palette.EntryCount, 256);
    p.Version = 0x300;
    p.EntryCount = uint16_t(count);
    std::memcpy(p.Entries, palette.Entries, sizeof(TPaletteEntry) * size_t(count));
    palette_ = p;
    if (IsEmpty())
        return;
    header_.biClrUsed = uint32_t(count);
    std::memset(colorTable_, 0, sizeof colorTable_);
    for (int i = 0; i < count; ++i) {
        colorTable_[i * 4 + 0] = p.Entries[i].peBlue;
        colorTable_[i * 4 + 1] = p.Entries[i].peGreen;
        colorTable_[i * 4 + 2] = p.Entries[i].peRed;
    }
    // The cache holds answers for the old palette.
    converter_ = std::make_unique<TRgbToPaletteConverter>(palette_);
}

// ---------------------------------------------------------------------------
// Pixel access

uint32_t TDibGraphic::GetPixelColor(int x, int y) const
{
    const uint8_t* row = RowPointer(y);
    switch (format_) {
    case ifRgb24: {
        const uint8_t* p = row + int64_t(x) * 3;
        return MakeColor(p[2], p[1], p[0]);
    }
    case ifMonochrome: return PaletteColor(palette_, (row[x >> 3] >> (7 - (x & 7))) & 1);
    case ifGrayscale16:
    case ifColor16: return PaletteColor(palette_, (x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4);
    case ifGrayscale256:
    case ifColor256: return PaletteColor(palette_, row[x]);
    }
    return 0;
}

void TDibGraphic::SetPixelColor(int x, int y, uint32_t color)
{
    if (format_ == ifRgb24) {
        uint8_t* p = RowPointer(y) + int64_t(x) * 3;
        p[0] = uint8_t(color);
        p[1] = uint8_t(color >> 8);
        p[2] = uint8_t(color >> 16);
        return;
    }
    SetPixelIndex(x, y, converter_ ? converter_->IndexOf(color) : 0);
}

int TDibGraphic::GetPixelIndex(int x, int y) const
{
    const uint8_t* row = RowPointer(y);
    switch (format_) {
    case ifMonochrome: return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case ifGrayscale16:
    case ifColor16: return (x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4;
    case ifGrayscale256:
    case ifColor256: return row[x];
    case ifRgb24: break;
    }
    throw ETavrinError("The image does not have a palette");
}

void TDibGraphic::SetPixelIndex(int x, int y, int index)
{
    uint8_t* row = RowPointer(y);
    switch (format_) {
    case ifMonochrome: {
        const uint8_t bit = uint8_t(0x80 >> (x & 7));
        if (index > 0)
            row[x >> 3] |= bit;
        else
            row[x >> 3] &= uint8_t(~bit);
        return;
    }
    case ifGrayscale16:
    case ifColor16: {
        // Only the low four bits are stored, so a stray index never touches
        // the neighbouring pixel.
        uint8_t& b = row[x >> 1];
        if (x & 1)
            b = uint8_t((b & 0xF0) | (index & 0x0F));
        else
            b = uint8_t((b & 0x0F) | ((index & 0x0F) << 4));
        return;
    }
    case ifGrayscale256:
    case ifColor256: row[x] = uint8_t(index); return;
    case ifRgb24: break;
    }
    throw ETavrinError("The image does not have a palette");
}

// ---------------------------------------------------------------------------
// Copying

void TDibGraphic::Assign(const TGraphic* source)
{
    if (source == this)
        return;
    const TDibGraphic* dib = source ? dynamic_cast<const TDibGraphic*>(source) : nullptr;
    if (!source || dib) {
        release();
        if (!dib || dib->IsEmpty() || dib->Width() <= 0 || dib->Height() <= 0)
            return;
        const int resX = dib->ResolutionX(), resY = dib->ResolutionY();
        // Not zero-filled: the copy below writes every byte of the store.
        newImage(dib->Width(), dib->Height(), dib->ImageFormat(), &dib->Palette(), resolutionArgument(resX),
                 resolutionArgument(resY), false);
        // Once more, so that a resolution of 0 stays 0 instead of becoming the display's.
        SetResolutionX(resX);
        SetResolutionY(resY);
        std::memcpy(bits_, dib->bits_, size_t(int64_t(Height()) * rowStride_));
        return;
    }

    // Any other picture draws itself onto a black true-colour bitmap of its size.
    const int w = source->Width(), h = source->Height();
    NewImage(w, h, ifRgb24, nullptr, 0, 0);
    try {
        QImage canvas(w, h, QImage::Format_RGB32);
        if (canvas.isNull())
            throw ETavrinError("CreateDibSection failed");
        canvas.fill(Qt::black);
        {
            QPainter painter(&canvas);
            source->Draw(painter, QRect(0, 0, w, h));
        }
        for (int y = 0; y < h; ++y) {
            const QRgb* src = reinterpret_cast<const QRgb*>(canvas.constScanLine(y));
            uint8_t* dst = RowPointer(y);
            for (int x = 0; x < w; ++x, dst += 3) {
                dst[0] = uint8_t(qBlue(src[x]));
                dst[1] = uint8_t(qGreen(src[x]));
                dst[2] = uint8_t(qRed(src[x]));
            }
        }
    } catch (const std::bad_alloc&) {
        release();
        throw ETavrinError("CreateDibSection failed");
    } catch (...) {
        release();
        throw;
    }
}

void TDibGraphic::CopyTo(TGraphic* destination) const
{
    if (auto* dib = dynamic_cast<TDibGraphic*>(destination)) {
        dib->Assign(this);
        return;
    }
    throw ETavrinError(formatMessage("Cannot assign a %s to a %s",
                                     {"TDibGraphic", destination ? destination->ClassName() : std::string("nil")}));
}

// ---------------------------------------------------------------------------
// Drawing

void TDibGraphic::Draw(QPainter& canvas, const QRect& rect) const
{
    const QRect visible = visiblePart(canvas, rect);
    if (!IsEmpty() && !visible.isEmpty()) {
        const QSize target = rect.size();
        const QRect part = visible.translated(-rect.topLeft());
        // Palette pictures are drawn scaled with halftone, true colour with
        // colour on colour; an unscaled drawing copies the pixels.
        const bool unscaled = target == QSize(Width(), Height());
        const QImage out = unscaled || format_ == ifRgb24 ? ScaleColorOnColor(*this, target, part)
                                                          : ScaleHalftone(*this, target, part);
        if (!out.isNull())
            canvas.drawImage(visible.topLeft(), out);
    }
    if (OnAfterDraw)
        OnAfterDraw(const_cast<TDibGraphic&>(*this));
}

// ---------------------------------------------------------------------------
// Streams

void TDibGraphic::ReadFromStream(TStream& stream)
{
    // Reading every image of a stream into frames is not supported; both
    // modes read the image selected by ImageIndex.
    ReadImage(stream, ImageIndex);
}

void TDibGraphic::WriteToStream(TStream&)
{
    // A class without a writer must not let a save look successful.
    throw ETavrinError(formatMessage("Method %s not implemented for %s class", {"\"WriteToStream\"", ClassName()}));
}

int TDibGraphic::CountImages(TStream&)
{
    return 1;
}

void TDibGraphic::ReadImage(TStream&, int) {}

void TDibGraphic::AddImageToStream(TStream&)
{
    throw ETavrinError(formatMessage("The %s format does not support multiple images", {ClassName()}));
}

const uint8_t* RowAsBgr(const TDibGraphic& bitmap, int y, std::vector<uint8_t>& scratch)
{
    if (bitmap.ImageFormat() == ifRgb24)
        return bitmap.RowPointer(y);
    const int width = bitmap.Width();
    for (int x = 0; x < width; ++x) {
        const uint32_t c = bitmap.GetPixelColor(x, y);
        scratch[3 * size_t(x)] = uint8_t(c);
        scratch[3 * size_t(x) + 1] = uint8_t(c >> 8);
        scratch[3 * size_t(x) + 2] = uint8_t(c >> 16);
    }
    return scratch.data();
}

void DecodeRowColours(TImageFormat format, const uint8_t* row, const uint32_t* lut, int x0, int x1, uint32_t* out,
                      uint32_t high)
{
    switch (format) {
    case ifRgb24:
        for (int x = x0; x < x1; ++x) {
            const uint8_t* p = row + int64_t(x) * 3;
            *out++ = high | MakeColor(p[2], p[1], p[0]);
        }
        break;
    case ifMonochrome:
        for (int x = x0; x < x1; ++x)
            *out++ = lut[(row[x >> 3] >> (7 - (x & 7))) & 1];
        break;
    case ifGrayscale16:
    case ifColor16:
        for (int x = x0; x < x1; ++x)
            *out++ = lut[(x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4];
        break;
    case ifGrayscale256:
    case ifColor256:
        for (int x = x0; x < x1; ++x)
            *out++ = lut[row[x]];
        break;
    }
}
