// SPDX-License-Identifier: GPL-2.0-or-later
#include "imaging/readers/pcx_graphic.h"
#include "platform/byte_order.h"

#include "imaging/codec/vesk.h"
#include "platform/exceptions.h"
#include "platform/streams.h"

#include <cstring>
#include <memory>

QX_DEFINE_GRAPHIC_CLASS(TPcxGraphic, TDibGraphic);
QX_DEFINE_GRAPHIC_CLASS(TDcxGraphic, TPcxGraphic);

namespace {

constexpr uint32_t kDcxMagic = 987654321;

[[noreturn]] void badDcxHeader()
{
    throw EDcxError("The DCX file header is not valid");
}

// Reads one 32-bit offset of the page table; false when the stream ends first.
bool readOffset(TStream& stream, uint32_t& value)
{
    uint8_t b[4];
    int64_t got = 0;
    while (got < 4) {
        const int64_t n = stream.Read(b + got, 4 - got);
        if (n <= 0)
            return false;
        got += n;
    }
    value = readLe32(b);
    return true;
}

// A header whose picture would not fit in memory is refused with a message
// that says so, before the codec gets to it.
void checkPictureSize(TStream& stream)
{
    VeskDescription d;
    std::memset(&d, 0, sizeof d);
    const std::string codecFile = "File.pcx";
    const int codec = vesk_guess_filetype(codecFile);
    const int64_t start = stream.Position();
    const int result = vesk_read_header(codecFile, stream, codec, std::string(), d);
    stream.Seek(start, SeekOrigin::Begin);
    if (result == VESK_OK && VeskRowStride(d.width, d.bitsPerPixel) * d.height > kMaxPixelStoreBytes)
        throw imageTooLarge();
}

}  // namespace

void TPcxGraphic::ReadImage(TStream& stream, int)
{
    std::unique_ptr<TMemoryStream> copy;
    TStream* work = &stream;
    if (stream.Position() != 0) {
        copy = std::make_unique<TMemoryStream>();
        const int64_t left = stream.Size() - stream.Position();
        if (left > 0)
            copy->CopyFrom(stream, left);
        work = copy.get();
    }

    uint8_t res[4];
    work->Seek(12, SeekOrigin::Begin);
    work->ReadBuffer(res, sizeof res);
    work->Seek(0, SeekOrigin::Begin);

    try {
        checkPictureSize(*work);
        ReadBitmapViaCodec(*work, *this, "File.pcx", std::string());
        SetResolutionX(readLe16(res));
        SetResolutionY(readLe16(res + 2));

        uint8_t header[128];
        work->Seek(0, SeekOrigin::Begin);
        work->ReadBuffer(header, sizeof header);
    } catch (...) {
        Assign(nullptr);
        throw;
    }
}

void TPcxGraphic::WriteToStream(TStream& stream)
{
    WriteBitmapViaCodec(stream, *this, "File.pcx");
}

int TDcxGraphic::CountImages(TStream& stream)
{
    const int64_t start = stream.Position();
    int count = 0;
    try {
        uint8_t magic[4];
        stream.ReadBuffer(magic, sizeof magic);
        if (readLe32(magic) != kDcxMagic)
            badDcxHeader();
        uint32_t offset;
        while (readOffset(stream, offset) && offset != 0)
            ++count;
    } catch (...) {
        stream.Seek(start, SeekOrigin::Begin);
        throw;
    }
    stream.Seek(start, SeekOrigin::Begin);
    return count;
}

void TDcxGraphic::ReadImage(TStream& stream, int index)
{
    // Page offsets count from where the DCX file starts.
    const int64_t fileStart = stream.Position();
    const int64_t fileEnd = stream.Size();

    uint8_t magic[4];
    stream.ReadBuffer(magic, sizeof magic);
    if (readLe32(magic) != kDcxMagic)
        badDcxHeader();
    if (index < 1)
        badDcxHeader();

    uint32_t offset = 0;
    for (int i = 0; i < index; ++i)
        if (!readOffset(stream, offset) || offset == 0)
            badDcxHeader();
    const int64_t pageStart = fileStart + offset;

    uint32_t next;
    if (!readOffset(stream, next))
        badDcxHeader();
    const int64_t pageEnd = next == 0 ? fileEnd : fileStart + next;
    // The page must lie inside the file, and the next page may not start before it.
    if (pageEnd < pageStart || pageStart > fileEnd || pageEnd > fileEnd)
        badDcxHeader();

    TMemoryStream page;
    stream.Seek(pageStart, SeekOrigin::Begin);
    if (pageEnd > pageStart)
        page.CopyFrom(stream, pageEnd - pageStart);
    page.Seek(0, SeekOrigin::Begin);
    TPcxGraphic::ReadImage(page, 1);
}
