#include "imaging/dib_graphic.h"

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
#include <vector>

QX_DEFINE_GRAPHIC_CLASS(TDibGraphic, TGraphic);

namespace {

// The largest pixel store we hand out. Every user of a bitmap may compute
// offsets as height * RowStride in 32-bit signed arithmetic, and the header
// keeps the image size in 32 bits.
constexpr int64_t kMaxImageBytes = INT32_MAX;

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

int dpiFromPelsPerMeter(int32_t ppm) { return int(divRoundHalfEven(int64_t(ppm) * 127, 5000)); }

int32_t pelsPerMeterFromDpi(int dpi)
{
    dpi = std::clamp(dpi, 0, 65535);
    return int32_t(divRoundHalfEven(int64_t(dpi) * 5000, 127));
}

void setEntry(TLogicalPalette& p, int i, uint8_t r, uint8_t g, uint8_t b)
{
    p.Entries[i].peRed = r;
    p.Entries[i].peGreen = g;
    p.Entries[i].peBlue = b;
    p.Entries[i].peFlags = 0;
}

const uint8_t kStandard16[16][3] = {
    {0, 0, 0},      {0, 0, 170},    {0, 170, 0},    {0, 170, 170}, {170, 0, 0},    {170, 0, 170},
    {170, 85, 0},   {170, 170, 170}, {85, 85, 85},  {85, 85, 255}, {85, 255, 85},  {85, 255, 255},
    {255, 85, 85},  {255, 85, 255}, {255, 255, 85}, {255, 255, 255}};

struct DefaultPalettes {
    TLogicalPalette pal[5];

    DefaultPalettes()
    {
        std::memset(pal, 0, sizeof pal);
        for (auto& p : pal)
            p.Version = 0x300;

        TLogicalPalette& mono = pal[ifMonochrome];
        mono.EntryCount = 2;
        setEntry(mono, 1, 255, 255, 255);

        TLogicalPalette& g16 = pal[ifGrayscale16];
        g16.EntryCount = 16;
        for (int i = 0; i < 16; ++i)
            setEntry(g16, i, uint8_t(17 * i), uint8_t(17 * i), uint8_t(17 * i));

        TLogicalPalette& g256 = pal[ifGrayscale256];
        g256.EntryCount = 256;
        for (int i = 0; i < 256; ++i)
            setEntry(g256, i, uint8_t(i), uint8_t(i), uint8_t(i));

        TLogicalPalette& c16 = pal[ifColor16];
        c16.EntryCount = 16;
        for (int i = 0; i < 16; ++i)
            setEntry(c16, i, kStandard16[i][0], kStandard16[i][1], kStandard16[i][2]);

        TLogicalPalette& c256 = pal[ifColor256];
        c256.EntryCount = 256;
        for (int i = 0; i < 16; ++i)
            setEntry(c256, i, kStandard16[i][0], kStandard16[i][1], kStandard16[i][2]);
        static const uint8_t greys[16] = {0, 20, 32, 44, 56, 69, 81, 97, 113, 130, 146, 162, 182, 203, 227, 255};
        for (int k = 0; k < 16; ++k)
            setEntry(c256, 16 + k, greys[k], greys[k], greys[k]);
        static const uint8_t blockLevels[9][5] = {
            {0, 65, 125, 190, 255}, {125, 158, 190, 223, 255}, {182, 199, 219, 235, 255},
            {0, 28, 56, 85, 113},   {56, 69, 85, 97, 113},     {81, 89, 97, 105, 113},
            {0, 16, 32, 48, 65},    {32, 40, 48, 56, 65},      {44, 48, 52, 60, 65}};
        // One turn around the colour wheel from blue, as level numbers (r, g, b).
        static const uint8_t wheel[24][3] = {
            {0, 0, 4}, {1, 0, 4}, {2, 0, 4}, {3, 0, 4}, {4, 0, 4}, {4, 0, 3}, {4, 0, 2}, {4, 0, 1},
            {4, 0, 0}, {4, 1, 0}, {4, 2, 0}, {4, 3, 0}, {4, 4, 0}, {3, 4, 0}, {2, 4, 0}, {1, 4, 0},
            {0, 4, 0}, {0, 4, 1}, {0, 4, 2}, {0, 4, 3}, {0, 4, 4}, {0, 3, 4}, {0, 2, 4}, {0, 1, 4}};
        for (int block = 0; block < 9; ++block)
            for (int j = 0; j < 24; ++j) {
                const uint8_t* L = blockLevels[block];
                setEntry(c256, 32 + block * 24 + j, L[wheel[j][0]], L[wheel[j][1]], L[wheel[j][2]]);
            }
        // Entries 248..255 stay black. Three entries of the standard palette
        // are not on the wheel.
        setEntry(c256, 30, 227, 179, 179);
        setEntry(c256, 85, 223, 182, 235);
        setEntry(c256, 96, 182, 223, 182);
    }
};

const DefaultPalettes& defaultPalettes()
{
    static const DefaultPalettes palettes;
    return palettes;
}
// Built at start-up rather than on first use.
[[maybe_unused]] const DefaultPalettes& g_defaultPalettesAtStartup = defaultPalettes();

inline uint32_t paletteColor(const TLogicalPalette& p, int index)
{
    const TPaletteEntry& e = p.Entries[index & 0xFF];
    return MakeColor(e.peRed, e.peGreen, e.peBlue);
}

// Number of meaningful bytes in a row and the mask of the meaningful bits of
// its last byte (pixels beyond the width are kept zero).
struct RowExtent {
    int64_t bytes;
    uint8_t lastMask;
};
RowExtent rowExtent(int width, int bpp)
{
    int64_t bits = int64_t(width) * bpp;
    int64_t bytes = (bits + 7) / 8;
    int rem = int(bits % 8);
    uint8_t mask = rem ? uint8_t(0xFF << (8 - rem)) : uint8_t(0xFF);
    return {bytes, mask};
}

} // namespace

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

bool HasPalette(TImageFormat format) { return format != ifRgb24; }

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

const TLogicalPalette& DefaultPalette(TImageFormat format)
{
    if (format > ifColor256)
        throw ETavrinError("Internal error: Invalid image format");
    return defaultPalettes().pal[format];
}

int64_t DibRowStride(int64_t width, int bitsPerPixel) { return ((width * bitsPerPixel + 31) / 32) * 4; }

// ---------------------------------------------------------------------------
// TRgbToPaletteConverter

TRgbToPaletteConverter::TRgbToPaletteConverter(const TLogicalPalette& palette) : palette_(palette)
{
    for (Slot& s : cache_) {
        s.color = 0;
        s.index = -1;
    }
}

int16_t TRgbToPaletteConverter::IndexOf(uint32_t color)
{
    Slot& slot = cache_[color % 1020];
    if (slot.index >= 0 && slot.color == color) {
        ++hits_;
        return slot.index;
    }
    ++misses_;
    const int r = (color >> 16) & 0xFF, g = (color >> 8) & 0xFF, b = color & 0xFF;
    const int count = std::min<int>(palette_.EntryCount, 256);
    int16_t best = 0;
    int bestDistance = INT_MAX;
    for (int i = 0; i < count; ++i) {
        const TPaletteEntry& e = palette_.Entries[i];
        const int dr = r - e.peRed, dg = g - e.peGreen, db = b - e.peBlue;
        const int d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) {
            bestDistance = d;
            best = int16_t(i);
            if (d == 0)
                break;
        }
    }
    slot.color = color;
    slot.index = best;
    return best;
}

// ---------------------------------------------------------------------------
// TDibGraphic: life cycle

void TDibGraphic::StoreDeleter::operator()(uint8_t* p) const noexcept { std::free(p); }

TDibGraphic::TDibGraphic() = default;

TDibGraphic::~TDibGraphic() { release(); }

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

        store_.reset(static_cast<uint8_t*>(std::calloc(size_t(imageSize), 1)));
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

bool TDibGraphic::IsEmpty() const { return bits_ == nullptr; }
int TDibGraphic::Width() const { return header_.biWidth; }
int TDibGraphic::Height() const { return header_.biHeight; }

void TDibGraphic::SetWidth(int) { throw ETavrinError("Dimensions must be change with the NewImage method"); }
void TDibGraphic::SetHeight(int) { throw ETavrinError("Dimensions must be change with the NewImage method"); }

int TDibGraphic::ResolutionX() const { return dpiFromPelsPerMeter(header_.biXPelsPerMeter); }
int TDibGraphic::ResolutionY() const { return dpiFromPelsPerMeter(header_.biYPelsPerMeter); }
void TDibGraphic::SetResolutionX(int dpi) { header_.biXPelsPerMeter = pelsPerMeterFromDpi(dpi); }
void TDibGraphic::SetResolutionY(int dpi) { header_.biYPelsPerMeter = pelsPerMeterFromDpi(dpi); }

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
    case ifMonochrome: return paletteColor(palette_, (row[x >> 3] >> (7 - (x & 7))) & 1);
    case ifGrayscale16:
    case ifColor16: return paletteColor(palette_, (x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4);
    case ifGrayscale256:
    case ifColor256: return paletteColor(palette_, row[x]);
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
        NewImage(dib->Width(), dib->Height(), dib->ImageFormat(), &dib->Palette(),
                 uint16_t(std::clamp(resX, 0, 65535)), uint16_t(std::clamp(resY, 0, 65535)));
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

void TDibGraphic::AssignFromPlatformBitmap(const QImage& bitmap)
{
    if (bitmap.isNull())
        throw EInvalidGraphic("Invalid bitmap");

    QImage img;
    TImageFormat format;
    switch (bitmap.format()) {
    case QImage::Format_Mono:
        img = bitmap;
        format = ifMonochrome;
        break;
    case QImage::Format_MonoLSB:
        img = bitmap.convertToFormat(QImage::Format_Mono);
        format = ifMonochrome;
        break;
    case QImage::Format_Indexed8: {
        img = bitmap;
        // There is no 4-bit QImage: an 8-bit picture whose colour table and
        // pixels fit in 16 entries is taken as the 4-bit picture it came from.
        format = ifColor256;
        if (img.colorCount() >= 1 && img.colorCount() <= 16) {
            bool fits = true;
            for (int y = 0; y < img.height() && fits; ++y) {
                const uchar* s = img.constScanLine(y);
                for (int x = 0; x < img.width(); ++x)
                    if (s[x] >= 16) {
                        fits = false;
                        break;
                    }
            }
            if (fits)
                format = ifColor16;
        }
        break;
    }
    case QImage::Format_Grayscale8:
        img = bitmap;
        format = ifGrayscale256;
        break;
    case QImage::Format_RGB888:
    case QImage::Format_BGR888:
        img = bitmap;
        format = ifRgb24;
        break;
    default: {
        const int depth = bitmap.depth();
        if (depth != 16 && depth != 24 && depth != 32)
            throw ETavrinError("Unsupported bit count");
        img = bitmap.convertToFormat(QImage::Format_RGB888);
        format = ifRgb24;
        break;
    }
    }
    if (img.isNull())
        throw ETavrinError("GetDIB failed");

    TLogicalPalette pal{};
    const TLogicalPalette* palette = nullptr;
    if (format != ifRgb24 && format != ifGrayscale256) {
        const QList<QRgb> table = img.colorTable();
        if (!table.isEmpty() && table.size() <= 256) {
            pal.Version = 0x300;
            pal.EntryCount = uint16_t(table.size());
            for (int i = 0; i < int(table.size()); ++i)
                setEntry(pal, i, uint8_t(qRed(table[i])), uint8_t(qGreen(table[i])), uint8_t(qBlue(table[i])));
            palette = &pal;
        }
    }

    auto toDpi = [](int dotsPerMeter) -> uint16_t {
        const int dpi = dpiFromPelsPerMeter(dotsPerMeter);
        return (dpi < 0 || dpi > 65535) ? 0 : uint16_t(dpi);
    };
    NewImage(img.width(), img.height(), format, palette, toDpi(img.dotsPerMeterX()), toDpi(img.dotsPerMeterY()));

    const int w = img.width(), h = img.height();
    for (int y = 0; y < h; ++y) {
        const uchar* s = img.constScanLine(y);
        uint8_t* d = RowPointer(y);
        switch (format) {
        case ifMonochrome: {
            const RowExtent ext = rowExtent(w, 1);
            std::memcpy(d, s, size_t(ext.bytes));
            d[ext.bytes - 1] &= ext.lastMask;
            break;
        }
        case ifColor16:
            for (int x = 0; x < w; ++x) {
                if (x & 1)
                    d[x >> 1] |= uint8_t(s[x] & 0x0F);
                else
                    d[x >> 1] = uint8_t(s[x] << 4);
            }
            break;
        case ifColor256:
        case ifGrayscale256: std::memcpy(d, s, size_t(w)); break;
        case ifRgb24:
            if (img.format() == QImage::Format_BGR888) {
                std::memcpy(d, s, size_t(w) * 3);
            } else {
                for (int x = 0; x < w; ++x) {
                    d[x * 3 + 0] = s[x * 3 + 2];
                    d[x * 3 + 1] = s[x * 3 + 1];
                    d[x * 3 + 2] = s[x * 3 + 0];
                }
            }
            break;
        default: break;
        }
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

QImage TDibGraphic::CopyToPlatformBitmap() const
{
    if (IsEmpty())
        return QImage();
    QImage out(Width(), Height(), QImage::Format_RGB888);
    if (out.isNull())
        throw ETavrinError("GetDIB failed");
    out.fill(Qt::black);
    QPainter painter(&out);
    Draw(painter, QRect(0, 0, Width(), Height()));
    painter.end();
    return out;
}

QImage TDibGraphic::ToQImage() const
{
    if (IsEmpty())
        return QImage();
    const int w = Width(), h = Height();
    if (format_ == ifRgb24) {
        QImage out(w, h, QImage::Format_RGB888);
        if (out.isNull())
            return out;
        for (int y = 0; y < h; ++y) {
            const uint8_t* s = RowPointer(y);
            uchar* d = out.scanLine(y);
            for (int x = 0; x < w; ++x) {
                d[x * 3 + 0] = s[x * 3 + 2];
                d[x * 3 + 1] = s[x * 3 + 1];
                d[x * 3 + 2] = s[x * 3 + 0];
            }
        }
        return out;
    }
    QImage out(w, h, QImage::Format_Indexed8);
    if (out.isNull())
        return out;
    QList<QRgb> table(256);
    for (int i = 0; i < 256; ++i)
        table[i] = 0xFF000000u | paletteColor(palette_, i);
    out.setColorTable(table);
    for (int y = 0; y < h; ++y) {
        const uint8_t* s = RowPointer(y);
        uchar* d = out.scanLine(y);
        switch (format_) {
        case ifMonochrome:
            for (int x = 0; x < w; ++x)
                d[x] = (s[x >> 3] >> (7 - (x & 7))) & 1;
            break;
        case ifGrayscale16:
        case ifColor16:
            for (int x = 0; x < w; ++x)
                d[x] = (x & 1) ? s[x >> 1] & 0x0F : s[x >> 1] >> 4;
            break;
        default: std::memcpy(d, s, size_t(w)); break;
        }
    }
    return out;
}

// ---------------------------------------------------------------------------
// Drawing

namespace {

// Decodes source pixels [x0, x1) of one row into 0xFFRRGGBB values.
void decodeRow(TImageFormat format, const uint8_t* row, const uint32_t* lut, int x0, int x1, uint32_t* out)
{
    switch (format) {
    case ifRgb24:
        for (int x = x0; x < x1; ++x) {
            const uint8_t* p = row + int64_t(x) * 3;
            *out++ = 0xFF000000u | MakeColor(p[2], p[1], p[0]);
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

// Area coverage of destination cells over source cells along one axis: the
// destination cell d spans [d*src, (d+1)*src) and source cell s spans
// [s*dst, (s+1)*dst) in units of 1/(src*dst); the weights of one cell add up
// to src.
struct Span {
    int first;    // first source cell
    int count;    // number of source cells
    size_t at;    // offset into the weight list
};
void buildSpans(int src, int dst, int d0, int d1, std::vector<Span>& spans, std::vector<int64_t>& weights)
{
    spans.clear();
    weights.clear();
    for (int v = d0; v < d1; ++v) {
        const int64_t d = v;
        const int64_t lo = d * src, hi = (d + 1) * src;
        const int first = int(lo / dst);
        const int last = int((hi - 1) / dst);
        Span span{first, last - first + 1, weights.size()};
        for (int s = first; s <= last; ++s)
            weights.push_back(std::min<int64_t>(hi, int64_t(s + 1) * dst) - std::max<int64_t>(lo, int64_t(s) * dst));
        spans.push_back(span);
    }
}

} // namespace

void TDibGraphic::Draw(QPainter& canvas, const QRect& rect) const
{
    const int sw = Width(), sh = Height();
    const QRect target = rect;
    const int dw = target.width(), dh = target.height();
    if (!IsEmpty() && sw > 0 && sh > 0 && dw > 0 && dh > 0 && canvas.isActive()) {
        // Only the part that can reach the device is computed: the device
        // (and clip) rectangle mapped back into the painter's coordinates
        // bounds it for any invertible transform.
        QRect visible = target;
        bool invertible = false;
        const QTransform inverse = canvas.worldTransform().inverted(&invertible);
        if (canvas.device() && invertible)
            visible &= inverse.mapRect(QRect(0, 0, canvas.device()->width(), canvas.device()->height()));
        if (canvas.hasClipping())
            visible &= canvas.clipBoundingRect().toAlignedRect();

        if (!visible.isEmpty()) {
            const int vx0 = visible.x() - target.x(), vy0 = visible.y() - target.y();
            const int vw = visible.width(), vh = visible.height();
            QImage out(vw, vh, QImage::Format_RGB32);
            if (!out.isNull()) {
                uint32_t lut[256];
                for (int i = 0; i < 256; ++i)
                    lut[i] = 0xFF000000u | paletteColor(palette_, i);

                const bool unscaled = dw == sw && dh == sh;
                if (unscaled || format_ == ifRgb24) {
                    // Colour on colour: every destination pixel takes the source pixel it falls on.
                    std::vector<int> sx(static_cast<size_t>(vw));
                    for (int i = 0; i < vw; ++i)
                        sx[size_t(i)] = int(int64_t(vx0 + i) * sw / dw);
                    const int xMin = *std::min_element(sx.begin(), sx.end());
                    const int xMax = *std::max_element(sx.begin(), sx.end());
                    std::vector<uint32_t> line(size_t(xMax - xMin + 1));
                    int decodedRow = -1;
                    for (int j = 0; j < vh; ++j) {
                        const int sy = int(int64_t(vy0 + j) * sh / dh);
                        if (sy != decodedRow) {
                            decodeRow(format_, RowPointer(sy), lut, xMin, xMax + 1, line.data());
                            decodedRow = sy;
                        }
                        QRgb* o = reinterpret_cast<QRgb*>(out.scanLine(j));
                        for (int i = 0; i < vw; ++i)
                            o[i] = line[size_t(sx[size_t(i)] - xMin)];
                    }
                } else {
                    // Halftone: each destination pixel is the area-weighted mean of
                    // the source pixels it covers.
                    std::vector<Span> colSpans, rowSpans;
                    std::vector<int64_t> colWeights, rowWeights;
                    buildSpans(sw, dw, vx0, vx0 + vw, colSpans, colWeights);
                    buildSpans(sh, dh, vy0, vy0 + vh, rowSpans, rowWeights);
                    int xMin = INT_MAX, xMax = 0;
                    for (const Span& s : colSpans) {
                        xMin = std::min(xMin, s.first);
                        xMax = std::max(xMax, s.first + s.count - 1);
                    }
                    std::vector<uint32_t> line(size_t(xMax - xMin + 1));
                    std::vector<double> acc(size_t(vw) * 3);
                    const double norm = double(sw) * double(sh);
                    for (int j = 0; j < vh; ++j) {
                        std::fill(acc.begin(), acc.end(), 0.0);
                        const Span& rs = rowSpans[size_t(j)];
                        for (int k = 0; k < rs.count; ++k) {
                            const double wy = double(rowWeights[rs.at + size_t(k)]);
                            decodeRow(format_, RowPointer(rs.first + k), lut, xMin, xMax + 1, line.data());
                            for (int i = 0; i < vw; ++i) {
                                const Span& cs = colSpans[size_t(i)];
                                int64_t r = 0, g = 0, b = 0;
                                for (int m = 0; m < cs.count; ++m) {
                                    const uint32_t c = line[size_t(cs.first + m - xMin)];
                                    const int64_t wx = colWeights[cs.at + size_t(m)];
                                    r += wx * ((c >> 16) & 0xFF);
                                    g += wx * ((c >> 8) & 0xFF);
                                    b += wx * (c & 0xFF);
                                }
                                acc[size_t(i) * 3 + 0] += wy * double(r);
                                acc[size_t(i) * 3 + 1] += wy * double(g);
                                acc[size_t(i) * 3 + 2] += wy * double(b);
                            }
                        }
                        QRgb* o = reinterpret_cast<QRgb*>(out.scanLine(j));
                        for (int i = 0; i < vw; ++i)
                            o[i] = qRgb(int(std::lround(acc[size_t(i) * 3 + 0] / norm)),
                                        int(std::lround(acc[size_t(i) * 3 + 1] / norm)),
                                        int(std::lround(acc[size_t(i) * 3 + 2] / norm)));
                    }
                }
                canvas.drawImage(visible.topLeft(), out);
            }
        }
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

void TDibGraphic::WriteToStream(TStream&) {}

int TDibGraphic::CountImages(TStream&) { return 1; }

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
