// SPDX-License-Identifier: GPL-2.0-or-later
#include "formats/texel_layout.h"

#include <algorithm>

int mipLevelSize(int size, int level)
{
    return level >= 31 ? 1 : std::max(1, size >> level);
}

int64_t texelLevelBytes(TexelFormat format, int width, int height)
{
    const int64_t pixels = int64_t(width) * height;
    const int64_t blocks = int64_t(std::max(1, (width + 3) / 4)) * std::max(1, (height + 3) / 4);
    switch (format) {
    case TexelFormat::Paletted8:
    case TexelFormat::Lum8: return pixels;
    case TexelFormat::Argb1555:
    case TexelFormat::Rgb555:
    case TexelFormat::Rgb565:
    case TexelFormat::Argb4444: return pixels * 2;
    case TexelFormat::Bgra8888:
    case TexelFormat::Bgrx888: return pixels * 4;
    case TexelFormat::Dxt1: return blocks * 8;
    case TexelFormat::Dxt3:
    case TexelFormat::Dxt5: return blocks * 16;
    case TexelFormat::Unknown: break;
    }
    return 0;
}

bool texelLayoutHasAlpha(const TexelLayout& layout)
{
    switch (layout.format) {
    case TexelFormat::Bgra8888:
    case TexelFormat::Argb1555:
    case TexelFormat::Argb4444:
    case TexelFormat::Dxt3:
    case TexelFormat::Dxt5: return true;
    case TexelFormat::Dxt1: return layout.dxt1Alpha;
    default: return false;
    }
}

bool texelFormatIsPaletted(TexelFormat format)
{
    return format == TexelFormat::Paletted8;
}

bool texelFormatIsCompressed(TexelFormat format)
{
    return format == TexelFormat::Dxt1 || format == TexelFormat::Dxt3 || format == TexelFormat::Dxt5;
}

const char* texelFormatTypeName(TexelFormat format)
{
    switch (format) {
    case TexelFormat::Paletted8: return "8bit paletted";
    case TexelFormat::Bgra8888: return "32bit";
    case TexelFormat::Bgrx888: return "24bit";
    case TexelFormat::Argb1555: return "16bit 1555";
    case TexelFormat::Rgb555: return "16bit 555";
    case TexelFormat::Rgb565: return "16bit 565";
    case TexelFormat::Argb4444: return "16bit 4444";
    case TexelFormat::Lum8: return "8bit grey";
    case TexelFormat::Dxt1: return "DXT1";
    case TexelFormat::Dxt3: return "DXT3";
    case TexelFormat::Dxt5: return "DXT5";
    case TexelFormat::Unknown: break;
    }
    return "";
}

const char* texelFormatName(TexelFormat format)
{
    switch (format) {
    case TexelFormat::Paletted8: return "P8";
    case TexelFormat::Bgra8888: return "8888";
    case TexelFormat::Bgrx888: return "888";
    case TexelFormat::Argb1555: return "1555";
    case TexelFormat::Rgb555: return "555";
    case TexelFormat::Rgb565: return "565";
    case TexelFormat::Argb4444: return "4444";
    case TexelFormat::Lum8: return "LUM8";
    case TexelFormat::Dxt1: return "DXT1";
    case TexelFormat::Dxt3: return "DXT3";
    case TexelFormat::Dxt5: return "DXT5";
    case TexelFormat::Unknown: break;
    }
    return "";
}

int64_t texelDataBytes(const TexelLayout& layout)
{
    int64_t total = texelFormatIsPaletted(layout.format) ? 1024 : 0;
    for (int k = 0; k < layout.levels; ++k)
        total += 4 + texelLevelBytes(layout.format, mipLevelSize(layout.width, k), mipLevelSize(layout.height, k));
    return total;
}
