// SPDX-License-Identifier: GPL-2.0-or-later
#include "imaging/readers/bmp_graphic.h"
#include "platform/byte_order.h"

#include "imaging/codec/vesk.h"
#include "imaging/readers/bmp_true_colour.h"
#include "platform/exceptions.h"
#include "platform/streams.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>

QX_DEFINE_GRAPHIC_CLASS(TBitmapGraphic, TDibGraphic);

namespace {

// Qt's reader limit is one process-wide setting. It is set once, while the
// program starts and before any thread exists, rather than before each read:
// pictures are also read on the open dialog's preview thread, and writing the
// setting there would race with reads on the user-interface thread.
const bool kReaderLimitSet = [] {
    QImageReader::setAllocationLimit(int(kMaxPixelStoreBytes >> 20) + 1);
    return true;
}();

int64_t readUpTo(TStream& stream, void* buffer, int64_t count)
{
    auto* p = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        const int64_t n = stream.Read(p + done, count - done);
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

[[noreturn]] void notValid()
{
    throw EInvalidGraphic("Bitmap image is not valid");
}

// The whole stream as the second reader takes it: at least 14 bytes
// ("Stream read error"), the signature "BM" and one colour plane ("Bitmap
// image is not valid"), and a size that memory can hold ("Image is too large").
QByteArray readForSecondReader(TStream& stream)
{
    stream.Seek(0, SeekOrigin::Begin);
    const int64_t size = stream.Size();
    if (size < 14)
        throw streamReadError();
    if (size > int64_t(std::numeric_limits<int32_t>::max()))
        notValid();
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    if (readUpTo(stream, bytes.data(), size) != size)
        throw streamReadError();
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.constData());
    if (p[0] != 'B' || p[1] != 'M')
        notValid();
    // The plane count sits after the width and height, which are 16-bit in a
    // 12-byte header and 32-bit in all others.
    if (size < 18)
        throw streamReadError();
    const uint32_t headerSize = readLe32(p + 14);
    const int64_t planesAt = headerSize == 12 ? 22 : 26;
    if (size < planesAt + 2)
        throw streamReadError();
    if (readLe16(p + planesAt) != 1)
        notValid();

    // The size the header claims, before anything is allocated for it: Qt
    // decodes palette pictures into a byte per pixel, all others into four.
    if (size >= planesAt + 4) {
        const bool os2 = headerSize == 12;
        const int64_t w = os2 ? readLe16(p + 18) : std::llabs(int64_t(int32_t(readLe32(p + 18))));
        const int64_t h = os2 ? readLe16(p + 20) : std::llabs(int64_t(int32_t(readLe32(p + 22))));
        const int bits = readLe16(p + planesAt + 2);
        const int64_t bytesPerPixel = bits <= 8 ? 1 : 4;
        if (h > 0 && w > kMaxPixelStoreBytes / bytesPerPixel / h)
            throw imageTooLarge();
    }
    return bytes;
}

// Qt's BMP reader, for the palette pictures and header kinds the codec and
// the true-colour path leave to it.
QImage readWithQt(QByteArray& bytes)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "bmp");
    QImage image = reader.read();
    if (image.isNull())
        notValid();
    return image;
}

}  // namespace

void TBitmapGraphic::takeAlpha(const QImage& image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    if (argb.isNull() || argb.width() != Width() || argb.height() != Height())
        return;
    const int w = Width(), h = Height();
    std::vector<uint8_t> alpha(size_t(w) * size_t(h));
    const bool direct = ImageFormat() == ifRgb24;
    for (int y = 0; y < h; ++y) {
        const QRgb* src = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        uint8_t* dst = direct ? RowPointer(y) : nullptr;
        for (int x = 0; x < w; ++x) {
            alpha[size_t(y) * size_t(w) + size_t(x)] = uint8_t(qAlpha(src[x]));
            if (dst) {
                dst[3 * x] = uint8_t(qBlue(src[x]));
                dst[3 * x + 1] = uint8_t(qGreen(src[x]));
                dst[3 * x + 2] = uint8_t(qRed(src[x]));
            }
        }
    }
    AlphaPlane = std::move(alpha);
}

void TBitmapGraphic::ReadImage(TStream& stream, int)
{
    // Positions below are counted from where the file starts.
    std::unique_ptr<TMemoryStream> copy;
    TStream* work = &stream;
    if (stream.Position() != 0) {
        copy = std::make_unique<TMemoryStream>();
        const int64_t left = stream.Size() - stream.Position();
        if (left > 0)
            copy->CopyFrom(stream, left);
        copy->Seek(0, SeekOrigin::Begin);
        work = copy.get();
    }

    // The resolution of a header of 40 or more bytes; a shorter file leaves it 0.
    uint8_t res[8]{};
    work->Seek(38, SeekOrigin::Begin);
    readUpTo(*work, res, sizeof res);
    const int32_t pelsX = int32_t(readLe32(res)), pelsY = int32_t(readLe32(res + 4));
    work->Seek(0, SeekOrigin::Begin);

    bool decoded = false;
    try {
        ReadBitmapViaCodec(*work, *this, "File.bmp", "inv");
        decoded = true;
    } catch (const std::exception&) {
        // Whatever the codec refuses goes to the second reader; its message is not shown.
    }
    if (!decoded) {
        try {
            QByteArray bytes = readForSecondReader(*work);
            const auto* file = reinterpret_cast<const uint8_t*>(bytes.constData());
            if (!ReadTrueColourBmp(file, bytes.size(), *this)) {
                const QImage image = readWithQt(bytes);
                AssignFromPlatformBitmap(image);
                if (KeepAlpha && image.hasAlphaChannel())
                    takeAlpha(image);
            }
        } catch (...) {
            Assign(nullptr);
            throw;
        }
    }

    SetResolutionX(resolutionOrZero(double(pelsX) * 0.0254));
    SetResolutionY(resolutionOrZero(double(pelsY) * 0.0254));
}

void TBitmapGraphic::WriteToStream(TStream& stream)
{
    WriteBitmapViaCodec(stream, *this, "File.bmp");
}
