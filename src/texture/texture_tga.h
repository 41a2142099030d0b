// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Turning a texture's stored texels into a TGA image in memory, for the
// preview in the main window and for "Save as TGA". No pixel is interpreted:
// the conversion only reorders bytes; decoding is the TGA codec's.
//
// The stored data at the texture's ImagePos (little-endian):
//   palette   1024 bytes, 256 x (R, G, B, A)    only for a paletted texture
//   D         i32, the number of texel bytes
//   texels    D bytes: 8-bit palette indices; 32-bit B, G, R, A; 16-bit 5-5-5
// A texture of a sectioned dictionary (TextureRef::sectioned) is decoded
// instead, whatever its layout: level 0 becomes width x height pixels of
// B, G, R, A, first row at the top, in a 32-bit TGA as for a 32-bit texture.
//
// The TGA: an 18-byte header (uncompressed true colour, width, height, 32 bits
// with the first row at the top and 8 alpha bits for paletted and 32-bit
// textures, 16 bits bottom-up for the others), then
//   paletted   D pixels, each palette entry as B, G, R, A
//   32-bit     D div 4 texels as stored (B, G, R, A is the TGA's own order)
//   others     the D texel bytes as stored.
// The preview and "Save as TGA" use the same bytes, so an exported file shows
// the colours the preview shows, and importing it again gives back the
// texels it came from.
#include "formats/texel_layout.h"
#include "platform/exceptions.h"

#include <cstdint>
#include <string>
#include <vector>

class TStream;
struct TextureRow;

// A texture that cannot be exported (no row, no data, data past the end).
QX_DECLARE_ERROR(ETextureError);

// What the conversion needs of a texture row.
struct TextureRef {
    bool present = false;  // there is a current texture row
    bool hasData = false;  // its ImagePos was written (a recognised kind whose data lies in the file)
    int64_t imagePos = 0;
    bool paletted = false;
    int bits = 0;
    int width = 0;
    int height = 0;
    std::string name;        // raw Windows-1250 bytes
    bool sectioned = false;  // from a sectioned dictionary: `layout` describes the texels
    TexelLayout layout;
};

// A row of a dictionary listing as a TextureRef.
TextureRef textureRefOf(const TextureRow& row);

// Why a texture cannot be turned into a picture.
enum class TextureProblem {
    None,
    NoTexture,     // no current texture row
    NoData,        // no data offset: a kind that is not recognised, or a damaged dictionary
    EmptyData,     // a data size of 0 or less
    PastEnd,       // the texels run past the end of the file
    SizeMismatch,  // a sectioned texture's level 0 does not have the size its layout gives
};

// The message "Save as TGA" and the export refuse with.
std::string textureProblemMessage(TextureProblem problem);

struct TextureTga {
    TextureProblem problem = TextureProblem::None;
    std::vector<uint8_t> bytes;  // the whole TGA when problem is None
};

// Problems that are known before the file is read (no row, no data offset).
TextureProblem textureRowProblem(const TextureRef& texture);

// Builds the TGA of the texture from `archive` (positioned anywhere). Reads
// nothing outside the texture's own bytes. A file that ends inside the
// palette or the data size field raises EReadError "Stream read error".
TextureTga buildTextureTga(TStream& archive, const TextureRef& texture);

// The pixels of a TGA made by buildTextureTga as B, G, R, A, first row at the
// top: a 32-bit TGA (paletted and 32-bit textures, and every layout of a
// sectioned dictionary) as stored, alpha kept; a 16-bit one through the TGA
// decoder, alpha 255. Empty when the texel data is shorter than the
// texture's dimensions promise.
std::vector<uint8_t> bgraOfTextureTga(const std::vector<uint8_t>& tga, const TextureRef& texture);

// The same pixels as a PNG file (what `export-all --png` writes): alpha kept
// for 32-bit TGAs, none for 16-bit ones. Empty as bgraOfTextureTga. The TGA
// is let go as soon as its pixels are read, before the compression.
std::vector<uint8_t> pngOfTextureTga(std::vector<uint8_t>&& tga, const TextureRef& texture);

// The name "Save as TGA" proposes for a texture name: its extension (the
// text from the last "." after the last "\" or ":") replaced by ".tga", or
// ".tga" appended when there is none ("grass" -> "grass.tga", "sign.old" ->
// "sign.tga").
std::string tgaFileNameForTexture(const std::string& textureName);

// Builds the TGA of the texture from the archive file (opened for
// reading with other writers locked out) and writes it to `fileName` through
// a temporary file. A texture that cannot be exported raises Exception with
// ETextureError with textureProblemMessage; nothing is created then.
void exportTextureTga(const std::string& archiveFileName, const TextureRef& texture, const std::string& fileName);

// As exportTextureTga, but the file is the PNG pngOfTextureTga makes (alpha
// kept). A TGA whose texel data is shorter than its dimensions promise
// raises ETextureError with the SizeMismatch text.
void exportTexturePng(const std::string& archiveFileName, const TextureRef& texture, const std::string& fileName);
