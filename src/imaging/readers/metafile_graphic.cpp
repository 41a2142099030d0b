// SPDX-License-Identifier: GPL-2.0-or-later
#include "imaging/readers/metafile_graphic.h"
#include "platform/byte_order.h"

#include "platform/environment.h"
#include "platform/exceptions.h"
#include "platform/streams.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <mutex>
#include <vector>

#include <emf2svg.h>

extern "C" int qx_wmf_to_svg(const unsigned char* data, size_t size, const double frame[4], char** svg,
                             size_t* svgSize);
extern "C" void qx_wmf_set_font_directory(const char* directory);

namespace {
// libwmf and libemf2svg keep state of their own between calls (font maps,
// static buffers), so one conversion runs at a time: metafiles may be read on
// the user-interface thread and on the open dialog's preview thread at once.
std::mutex& converterMutex()
{
    static std::mutex m;
    return m;
}
}  // namespace

void SetMetafileFontDirectoryForTesting(const char* directory)
{
    std::lock_guard<std::mutex> lock(converterMutex());
    qx_wmf_set_font_directory(directory);
}

QX_DEFINE_GRAPHIC_CLASS(TMetaFileGraphic, TDibGraphic);

namespace {

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr uint32_t kEmfSignature = 0x464D4520;  // " EMF"
constexpr int kPlaceableHeaderSize = 22;
constexpr int kEmfHeaderSize = 88;  // up to and including the reference device's size in millimetres
constexpr int kEmfMinimumStream = 101;

[[noreturn]] void invalid()
{
    throw EInvalidGraphic("Metafile is not valid");
}

int16_t s16(const uint8_t* p)
{
    return int16_t(readLe16(p));
}
int32_t s32(const uint8_t* p)
{
    return int32_t(readLe32(p));
}

bool isEnhanced(const uint8_t* data, size_t size)
{
    return size >= size_t(kEmfMinimumStream) && readLe32(data) == 1 && readLe32(data + 40) == kEmfSignature;
}

bool isPlaceable(const uint8_t* data, size_t size)
{
    if (size < size_t(kPlaceableHeaderSize) || readLe32(data) != kPlaceableKey)
        return false;
    uint16_t sum = 0;
    for (int i = 0; i < 10; ++i)
        sum ^= readLe16(data + 2 * i);
    return sum == readLe16(data + 20);
}

// Records that put something on the page: lines, shapes, regions, text, bitmaps.
bool isDrawingRecord(uint16_t function)
{
    static const uint16_t kDrawing[] = {0x0213, 0x0817, 0x0418, 0x0419, 0x081A, 0x041B, 0x061C, 0x061D, 0x041F,
                                        0x0521, 0x0922, 0x0B23, 0x0324, 0x0325, 0x0228, 0x0429, 0x012A, 0x012B,
                                        0x0830, 0x0A32, 0x0D33, 0x0538, 0x0940, 0x0B41, 0x0F43, 0x0548};
    return std::find(std::begin(kDrawing), std::end(kDrawing), function) != std::end(kDrawing);
}

// The window origin and extent a Windows metafile sets before it draws
// anything; libwmf places drawings relative to that origin.
struct WindowSetup {
    double orgX = 0, orgY = 0;
    double signX = 1, signY = 1;
};

WindowSetup initialWindow(const uint8_t* data, size_t size)
{
    WindowSetup w;
    size_t pos = kPlaceableHeaderSize;
    if (size < pos + 18)
        return w;
    pos += size_t(readLe16(data + pos + 2)) * 2;  // the metafile header's own size in words
    while (pos + 6 <= size) {
        const uint32_t words = readLe32(data + pos);
        const uint16_t function = readLe16(data + pos + 4);
        if (words < 3 || words > (size - pos) / 2 || function == 0)
            break;
        const uint8_t* params = data + pos + 6;
        const size_t paramBytes = size_t(words) * 2 - 6;
        if (function == 0x020B && paramBytes >= 4) {  // SetWindowOrg (y, x)
            w.orgY = s16(params);
            w.orgX = s16(params + 2);
        } else if (function == 0x020C && paramBytes >= 4) {  // SetWindowExt (y, x)
            w.signY = s16(params) < 0 ? -1 : 1;
            w.signX = s16(params + 2) < 0 ? -1 : 1;
        } else if (isDrawingRecord(function)) {
            break;  // the set-up is over
        }
        pos += size_t(words) * 2;
    }
    return w;
}

std::vector<uint8_t> readRest(TStream& stream)
{
    const int64_t pos = stream.Position();
    const int64_t left = std::max<int64_t>(stream.Size() - pos, 0);
    if (left > int64_t(std::numeric_limits<int32_t>::max()))
        invalid();
    std::vector<uint8_t> bytes(static_cast<size_t>(left));
    const int64_t got = std::max<int64_t>(stream.ReadFully(bytes.data(), left), 0);
    bytes.resize(size_t(got));
    return bytes;
}

QByteArray wmfToSvg(const std::vector<uint8_t>& bytes)
{
    std::vector<uint8_t> copy;
    if (!FilterPlaceableMetafile(bytes.data(), bytes.size(), copy))
        invalid();
    uint8_t* h = copy.data();
    // libwmf cannot scale a header that gives 0 units per inch; the picture's
    // size is computed for 96 then, and libwmf is told the same.
    int inch = readLe16(h + 14);
    if (inch == 0) {
        inch = 96;
        h[14] = 96;
        h[15] = 0;
        uint16_t sum = 0;
        for (int i = 0; i < 10; ++i)
            sum ^= readLe16(h + 2 * i);
        h[20] = uint8_t(sum);
        h[21] = uint8_t(sum >> 8);
    }
    // libwmf works in points: metafile units relative to the window origin,
    // times 72 / units per inch. The bounding box in those units is the frame.
    const WindowSetup window = initialWindow(copy.data(), copy.size());
    const double scale = 72.0 / inch;
    const double x1 = (s16(h + 6) - window.orgX) * scale * window.signX;
    const double x2 = (s16(h + 10) - window.orgX) * scale * window.signX;
    const double y1 = (s16(h + 8) - window.orgY) * scale * window.signY;
    const double y2 = (s16(h + 12) - window.orgY) * scale * window.signY;
    const double frame[4] = {std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};

    char* svg = nullptr;
    size_t svgSize = 0;
    int failed = 0;
    {
        std::lock_guard<std::mutex> lock(converterMutex());
        failed = qx_wmf_to_svg(copy.data(), copy.size(), frame, &svg, &svgSize);
    }
    if (failed != 0 || !svg)
        invalid();
    QByteArray result(svg, qsizetype(svgSize));
    std::free(svg);
    return result;
}

QByteArray emfToSvg(const std::vector<uint8_t>& bytes, int64_t length, QRectF& viewBox)
{
    std::vector<uint8_t> filtered;
    if (!FilterEnhancedMetafile(bytes.data(), size_t(length), filtered))
        invalid();
    std::vector<char> copy(filtered.begin(), filtered.end());
    generatorOptions options{};
    char nameSpace[] = "";
    options.nameSpace = nameSpace;
    options.verbose = false;
    options.emfplus = false;  // EMF+ comments are not passed on; their plain records draw the picture
    options.svgDelimiter = true;
    options.imgWidth = 0;  // keep the metafile's own device units
    options.imgHeight = 0;
    char* svg = nullptr;
    size_t svgSize = 0;
    int ok = 0;
    {
        std::lock_guard<std::mutex> lock(converterMutex());
        ok = emf2svg(copy.data(), copy.size(), &svg, &svgSize, &options);
    }
    if (!ok || !svg) {
        std::free(svg);
        invalid();
    }
    QByteArray result(svg, qsizetype(svgSize));
    std::free(svg);

    // The SVG shows the metafile's bounds (reference-device pixels) from its
    // top left corner; the frame (hundredths of a millimetre) is what maps
    // onto the bitmap.
    const uint8_t* h = bytes.data();
    const double boundsLeft = s32(h + 8), boundsTop = s32(h + 12);
    const double devX = s32(h + 72), devY = s32(h + 76);
    const double mmX = s32(h + 80), mmY = s32(h + 84);
    const double pxPerX = devX / (mmX * 100.0), pxPerY = devY / (mmY * 100.0);
    const double fl = s32(h + 24) * pxPerX, ft = s32(h + 28) * pxPerY;
    const double fr = s32(h + 32) * pxPerX, fb = s32(h + 36) * pxPerY;
    viewBox = QRectF(fl - boundsLeft, ft - boundsTop, fr - fl, fb - ft);
    return result;
}

// The SVG documents come from converters that copy strings of the metafile
// into them, so they are filtered before Qt draws them:
// - only a well-formed document is drawn (anything else comes back empty);
// - images are drawn only from data inside the document, never from files
//   or other places an image reference could name;
// - with `imagesPlaced` (libwmf's documents) images lose their transform;
// - text is dropped when `keepText` is false: Qt draws text only through its
//   font database, which exists only in a program with a QGuiApplication, and
//   without one drawing text aborts the program. A program without one (the
//   command-line tool) gets the metafile without its text. With one, text
//   may be drawn on any thread: painting onto a QImage, text included, is
//   supported off the user-interface thread (the open dialog's preview reads
//   metafiles there).
QByteArray filteredSvg(const QByteArray& svg, bool keepText, bool imagesPlaced)
{
    QByteArray out;
    QXmlStreamReader reader(svg);
    reader.setNamespaceProcessing(false);  // the converters' prefixes are not always declared
    QXmlStreamWriter writer(&out);
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.hasError())
            break;
        if (reader.isStartElement()) {
            const QStringView name = reader.qualifiedName();
            bool drop = false;
            if (name == u"text" || name == u"textArea" || name == u"tspan" || name == u"tbreak") {
                drop = !keepText;
            } else if (name == u"image") {
                for (const QXmlStreamAttribute& a : reader.attributes()) {
                    const QStringView attribute = a.qualifiedName();
                    if ((attribute == u"href" || attribute.endsWith(u":href"))
                        && !a.value().trimmed().startsWith(u"data:", Qt::CaseInsensitive))
                        drop = true;
                }
            }
            if (drop) {
                reader.skipCurrentElement();
                continue;
            }
            if (name == u"image" && imagesPlaced) {
                // libwmf places an image with its x, y, width and height and
                // then scales and moves it once more with a transform; the
                // first placement is the right one.
                writer.writeStartElement(name.toString());
                for (const QXmlStreamAttribute& a : reader.attributes())
                    if (a.qualifiedName() != u"transform")
                        writer.writeAttribute(a.qualifiedName().toString(), a.value().toString());
                continue;
            }
        }
        writer.writeCurrentToken(reader);
    }
    if (reader.hasError())
        return QByteArray();
    return out;
}

bool canDrawText()
{
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

// --- the Windows metafile record filter

// Minimum parameter bytes of the records copied as they are.
int fixedWmfParams(uint16_t function)
{
    switch (function) {
    case 0x001E:
    case 0x0035:  // SaveDC, RealizePalette
        return 0;
    case 0x0102:
    case 0x0103:
    case 0x0104:
    case 0x0105:
    case 0x0106:
    case 0x0107:
    case 0x0108:
    case 0x0127:
    case 0x012D:
    case 0x012E:
    case 0x0139:
    case 0x01F0:
    case 0x0234: return 2;  // modes, RestoreDC, SelectObject, SetTextAlign, ResizePalette, DeleteObject, SelectPalette
    case 0x0149:
    case 0x0201:
    case 0x0209:
    case 0x020A:
    case 0x020B:
    case 0x020C:
    case 0x020D:
    case 0x020E:
    case 0x020F:
    case 0x0211:
    case 0x0213:
    case 0x0214:
    case 0x0220:
    case 0x0231: return 4;  // layout, colours, window and viewport, LineTo, MoveTo, OffsetClipRgn, mapper flags
    case 0x02FA:            // CreatePenIndirect
        return 10;
    case 0x02FC:  // CreateBrushIndirect
        return 8;
    case 0x0410:
    case 0x0412:
    case 0x0415:
    case 0x0416:
    case 0x0418:
    case 0x0419:
    case 0x041B:
    case 0x041F: return 8;  // scaling, clip rectangles, Ellipse, FloodFill, Rectangle, SetPixel
    case 0x0548:            // ExtFloodFill
        return 10;
    case 0x061C:
    case 0x061D:  // RoundRect, PatBlt
        return 12;
    case 0x0817:
    case 0x081A:
    case 0x0830:  // Arc, Pie, Chord
        return 16;
    default: return -1;
    }
}

bool createsObject(uint16_t function)
{
    switch (function) {
    case 0x00F7:
    case 0x01F9:
    case 0x0142:
    case 0x02FA:
    case 0x02FB:
    case 0x02FC:
    case 0x06FF: return true;
    default: return false;
    }
}

void appendU16(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

void appendRecord(std::vector<uint8_t>& out, uint16_t function, const uint8_t* params, size_t bytes)
{
    const uint32_t words = uint32_t(3 + (bytes + 1) / 2);
    appendU16(out, words);
    appendU16(out, words >> 16);
    appendU16(out, function);
    out.insert(out.end(), params, params + bytes);
    if (bytes % 2)
        out.push_back(0);
}

// An object that draws nothing: a pen of style PS_NULL.
void appendEmptyObject(std::vector<uint8_t>& out)
{
    const uint8_t pen[10] = {5, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    appendRecord(out, 0x02FA, pen, sizeof pen);
}

bool sourceInside(int x, int y, int cx, int cy, int64_t w, int64_t h)
{
    return x >= 0 && y >= 0 && cx >= 0 && cy >= 0 && int64_t(x) + cx <= w && int64_t(y) + cy <= h;
}

// Whether a record's parameters (`n` bytes at `p`) are sound enough for libwmf.
bool wmfRecordSound(uint16_t function, const uint8_t* p, size_t n)
{
    const int fixed = fixedWmfParams(function);
    if (fixed >= 0)
        return n >= size_t(fixed);
    int64_t w = 0, h = 0;
    switch (function) {
    case 0x0324:
    case 0x0325:  // Polygon, Polyline
        return n >= 2 && 2 + size_t(readLe16(p)) * 4 <= n;
    case 0x0538: {  // PolyPolygon
        if (n < 2)
            return false;
        const size_t polys = readLe16(p);
        if (2 + polys * 2 > n)
            return false;
        size_t points = 0;
        for (size_t i = 0; i < polys; ++i)
            points += readLe16(p + 2 + i * 2);
        return 2 + polys * 2 + points * 4 <= n;
    }
    case 0x0521:  // TextOut: count, string (even length), y, x
        return n >= 2 && 2 + ((size_t(readLe16(p)) + 1) & ~size_t(1)) + 4 <= n;
    case 0x0A32: {  // ExtTextOut: y, x, count, options, [rectangle], string, [spacing]
        if (n < 8)
            return false;
        const size_t count = readLe16(p + 4);
        const size_t rect = (readLe16(p + 6) & 0x0006) ? 8 : 0;  // ETO_OPAQUE, ETO_CLIPPED
        return 8 + rect + ((count + 1) & ~size_t(1)) <= n;
    }
    case 0x0037:
    case 0x0436:  // SetPalEntries, AnimatePalette
    case 0x00F7:  // CreatePalette
        return n >= 4 && 4 + size_t(readLe16(p + 2)) * 4 <= n;
    case 0x0142:  // DIBCreatePatternBrush: style, usage, bitmap
        return n >= 4 && readLe16(p + 2) == 0 && MetafilePackedDibIsSound(p + 4, n - 4, &w, &h);
    case 0x0940:  // DIBBitBlt
        if (n == 18)
            return true;  // without a bitmap
        return n > 16 && MetafilePackedDibIsSound(p + 16, n - 16, &w, &h)
               && sourceInside(s16(p + 6), s16(p + 4), s16(p + 10), s16(p + 8), w, h);
    case 0x0B41:  // DIBStretchBlt
        if (n == 22)
            return true;
        return n > 20 && MetafilePackedDibIsSound(p + 20, n - 20, &w, &h)
               && sourceInside(s16(p + 10), s16(p + 8), s16(p + 6), s16(p + 4), w, h);
    case 0x0F43:  // StretchDIB
        return n > 22 && readLe16(p + 4) == 0 && MetafilePackedDibIsSound(p + 22, n - 22, &w, &h)
               && sourceInside(s16(p + 12), s16(p + 10), s16(p + 8), s16(p + 6), w, h);
    case 0x0D33: {  // SetDIBToDev
        if (n <= 18 || readLe16(p) != 0 || !MetafilePackedDibIsSound(p + 18, n - 18, &w, &h))
            return false;
        return int64_t(readLe16(p + 2)) + readLe16(p + 4) <= h
               && sourceInside(s16(p + 8), s16(p + 6), s16(p + 12), s16(p + 10), w, h);
    }
    default:
        // Regions (never created, see below), old-style bitmaps, escapes and
        // anything unknown are not copied.
        return false;
    }
}

}  // namespace

bool FilterPlaceableMetafile(const uint8_t* data, size_t size, std::vector<uint8_t>& out)
{
    constexpr size_t kMetaHeader = kPlaceableHeaderSize;
    if (size < kMetaHeader + 18)
        return false;
    const uint8_t* mh = data + kMetaHeader;
    if ((readLe16(mh) != 1 && readLe16(mh) != 2) || readLe16(mh + 2) != 9)
        return false;
    out.assign(data, data + kMetaHeader + 18);
    uint32_t largest = 3;
    uint32_t creations = 0;
    size_t pos = kMetaHeader + 18;
    while (pos + 6 <= size) {
        const uint8_t* r = data + pos;
        const uint32_t words = readLe32(r);
        const uint16_t function = readLe16(r + 4);
        if (words < 3 || words > (size - pos) / 2 || function == 0)
            break;
        const uint8_t* params = r + 6;
        const size_t n = size_t(words) * 2 - 6;
        const size_t before = out.size();
        if (function == 0x02FB) {
            // CreateFontIndirect: the fixed part, then a face name that surely ends.
            if (n >= 18) {
                uint8_t font[18 + 32] = {};
                std::memcpy(font, params, 18);
                std::memcpy(font + 18, params + 18, std::min<size_t>(n - 18, 31));
                appendRecord(out, function, font, sizeof font);
            } else {
                appendEmptyObject(out);
            }
        } else if (function == 0x06FF || function == 0x01F9) {
            appendEmptyObject(out);  // regions and old-style pattern bitmaps are not passed on
        } else if (wmfRecordSound(function, params, n)) {
            appendRecord(out, function, params, n);
        } else if (createsObject(function)) {
            appendEmptyObject(out);
        }
        if (createsObject(function))
            ++creations;
        largest = std::max(largest, uint32_t((out.size() - before) / 2));
        pos += size_t(words) * 2;
    }
    appendRecord(out, 0, nullptr, 0);
    // Sizes in the metafile header: the whole metafile and its largest record,
    // in words, and room for every object it creates (libwmf refuses a
    // metafile that creates more objects than its header announces).
    const uint32_t total = uint32_t((out.size() - kMetaHeader) / 2);
    for (int i = 0; i < 4; ++i) {
        out[kMetaHeader + 6 + i] = uint8_t(total >> (8 * i));
        out[kMetaHeader + 12 + i] = uint8_t(largest >> (8 * i));
    }
    const uint32_t objects =
        std::min<uint32_t>(std::max<uint32_t>(readLe16(out.data() + kMetaHeader + 10), creations), 0xFFFF);
    out[kMetaHeader + 10] = uint8_t(objects);
    out[kMetaHeader + 11] = uint8_t(objects >> 8);
    return true;
}

int64_t MulDivRound(int64_t a, int64_t b, int64_t c)
{
    if (c == 0)
        return 0;
    // Operands come from 16- and 32-bit header fields; the product fits.
    __int128 n = __int128(a) * b;
    bool negative = (n < 0) != (c < 0);
    __int128 an = n < 0 ? -n : n;
    __int128 ac = c < 0 ? -__int128(c) : __int128(c);
    __int128 q = (an + ac / 2) / ac;
    const __int128 largest = std::numeric_limits<int64_t>::max();
    if (q > largest)
        q = largest;  // no header value gets there; saturate rather than wrap
    return int64_t(negative ? -q : q);
}

MetafileInfo InspectMetafile(const uint8_t* data, size_t size)
{
    MetafileInfo info;
    if (isEnhanced(data, size)) {
        const uint32_t recordSize = readLe32(data + 4);
        const uint32_t length = readLe32(data + 48);
        if (recordSize < uint32_t(kEmfHeaderSize) || length < recordSize || length > size)
            return info;
        // Frame in hundredths of a millimetre, scaled by the reference device's
        // pixels per hundredth of a millimetre.
        const int64_t frameW = int64_t(s32(data + 32)) - s32(data + 24);
        const int64_t frameH = int64_t(s32(data + 36)) - s32(data + 28);
        info.width = MulDivRound(frameW, s32(data + 72), int64_t(s32(data + 80)) * 100);
        info.height = MulDivRound(frameH, s32(data + 76), int64_t(s32(data + 84)) * 100);
        info.length = length;
        info.kind = MetafileKind::Enhanced;
        return info;
    }
    if (isPlaceable(data, size)) {
        int inch = readLe16(data + 14);
        if (inch == 0)
            inch = 96;
        const int64_t boxW = int64_t(s16(data + 10)) - s16(data + 6);
        const int64_t boxH = int64_t(s16(data + 12)) - s16(data + 8);
        info.width = MulDivRound(MulDivRound(boxW, 2540, inch), screenDpiX(), 2540);
        info.height = MulDivRound(MulDivRound(boxH, 2540, inch), screenDpiY(), 2540);
        info.length = int64_t(size);
        info.kind = MetafileKind::Placeable;
    }
    return info;
}

void TMetaFileGraphic::ReadImage(TStream& stream, int)
{
    const std::vector<uint8_t> bytes = readRest(stream);
    const MetafileInfo info = InspectMetafile(bytes.data(), bytes.size());
    if (info.kind == MetafileKind::Invalid)
        invalid();
    if (info.width <= 0 || info.height <= 0)
        invalid();
    if (info.width > std::numeric_limits<int32_t>::max() || info.height > std::numeric_limits<int32_t>::max()
        || DibRowStride(info.width, 24) > kMaxPixelStoreBytes / info.height)
        throw imageTooLarge();
    // A placeable metafile needs at least the metafile header after its own.
    if (info.kind == MetafileKind::Placeable && bytes.size() < size_t(kPlaceableHeaderSize + 18))
        invalid();

    QRectF viewBox;
    const QByteArray svg =
        info.kind == MetafileKind::Enhanced ? emfToSvg(bytes, info.length, viewBox) : wmfToSvg(bytes);

    QSvgRenderer renderer(filteredSvg(svg, canDrawText(), info.kind == MetafileKind::Placeable));
    if (!renderer.isValid())
        invalid();
    if (info.kind == MetafileKind::Enhanced) {
        if (!(viewBox.width() > 0) || !(viewBox.height() > 0))
            invalid();
        renderer.setViewBox(viewBox);
    }

    const int w = int(info.width), h = int(info.height);
    QImage canvas(w, h, QImage::Format_RGB32);
    if (canvas.isNull())
        throw imageTooLarge();
    canvas.fill(Qt::white);
    {
        QPainter painter(&canvas);
        renderer.render(&painter, QRectF(0, 0, w, h));
    }

    NewImage(w, h, ifRgb24, nullptr, 0, 0);
    for (int y = 0; y < h; ++y) {
        const QRgb* src = reinterpret_cast<const QRgb*>(canvas.constScanLine(y));
        uint8_t* dst = RowPointer(y);
        for (int x = 0; x < w; ++x, dst += 3) {
            dst[0] = uint8_t(qBlue(src[x]));
            dst[1] = uint8_t(qGreen(src[x]));
            dst[2] = uint8_t(qRed(src[x]));
        }
    }
}
