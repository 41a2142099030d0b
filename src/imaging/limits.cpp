// SPDX-License-Identifier: GPL-2.0-or-later
#include "imaging/limits.h"

#include "imaging/errors.h"

#include <algorithm>
#include <cmath>

void checkImageSize(uint64_t width, uint64_t height, int bitsPerPixel)
{
    if (width > uint64_t(INT32_MAX) || height > uint64_t(INT32_MAX))
        throw ETavrinError(kImageTooLarge);
    const uint64_t stride = uint64_t(DibRowStride(int64_t(width), bitsPerPixel));
    if (height != 0 && stride > uint64_t(kMaxImageBytes) / height)
        throw ETavrinError(kImageTooLarge);
}

uint16_t resolutionArgument(int dpi)
{
    return uint16_t(std::clamp(dpi, 0, 65535));
}

uint16_t resolutionOrZero(double dpi)
{
    const double rounded = std::nearbyint(dpi);
    return rounded >= 0 && rounded <= 65535 ? uint16_t(rounded) : 0;
}
