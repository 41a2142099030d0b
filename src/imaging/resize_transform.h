// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// TResizeTransform: changes the size of a bitmap.
//
// With UseFilter it runs a separable two-pass filtered resampling: a
// horizontal pass into a 24-bit intermediate image (destination width x
// source height), then a vertical pass into the destination. Each pass is
// driven by contributor lists (source index, weight) computed once per
// destination column or row. Without UseFilter it stretches like the
// display does: area averaging for large true-colour pictures, nearest
// neighbour for everything else.
//
// Arithmetic is fixed bit for bit: kernels take and return float, with the
// intermediates noted below held as float and everything else evaluated in
// long double; each accumulation step is one fused multiply-add rounded to
// float; a channel becomes a byte by rounding to nearest, ties to even.
//
// Both passes, and the area-averaging stretch, cut their rows into bands
// that run on the machine's cores (imaging/row_bands.h); every row is
// computed as on one thread, so the bytes never depend on the split. Writes
// into a palette destination stay on the calling thread.
#include "imaging/transforms.h"

#include <cstdint>
#include <vector>

enum TResampleKernel : uint8_t {
    rkTriangle = 0,
    rkHermite = 1,
    rkQuadraticBSpline = 2,
    rkCubicBSpline = 3,
    rkLanczos3 = 4,
    rkMitchell = 5,
};

using TResampleFunction = float (*)(float x);

struct TResampleKernelEntry {
    const char* Name;
    TResampleFunction Function;
    float Support;  // the kernel is 0 at |x| >= Support
};

// Indexed by TResampleKernel.
extern const TResampleKernelEntry ResampleKernels[6];

float TriangleKernel(float x);
float HermiteKernel(float x);
float QuadraticBSplineKernel(float x);
float CubicBSplineKernel(float x);
float Lanczos3Kernel(float x);
float MitchellKernel(float x);

// One tap of a contributor list. A weight of exactly 0 marks a tap that
// reflected outside the source (kernel wider than the picture); it is kept
// but never read.
struct TContributor {
    int32_t Pixel;
    float Weight;
};

struct TContributorList {
    std::vector<TContributor> Entries;
};

// The pass scale: dst / src when the source has length 1, otherwise
// (dst - 1) / (src - 1), computed in long double and stored as float.
float ResampleScale(int32_t destinationLength, int32_t sourceLength);

// Contributor lists for destination indices 0..destinationLength-1 sampling a
// source of length sourceLength at position i / scale. Taps before the start
// reflect about the first pixel (-1 -> 1), taps past the end about the outer
// border (n -> n - 1).
std::vector<TContributorList> BuildContributorLists(int32_t destinationLength, int32_t sourceLength, float scale,
                                                    TResampleFunction kernel, float support);

// One channel sum as a byte: 255 above 255, 0 below 0, else nearest integer
// with ties to even.
uint8_t ResampleChannelToByte(float sum);

// The filtered two-pass resampling. The destination must already have its
// final size, format and palette. ETavrinError "Source graphic too small" for
// an empty source, "Destination graphic too small" for a destination
// narrower or lower than 2 pixels.
void Resample(const TDibGraphic& source, TDibGraphic& destination, TResampleFunction kernel, float support);

// Stretches the whole source onto the whole destination (which already has
// its size and format): area averaging when `halftone`, else nearest
// neighbour. A palette source stretched onto the same format copies indices.
void StretchPicture(const TDibGraphic& source, TDibGraphic& destination, bool halftone);

class TResizeTransform : public TImageTransform {
public:
    int32_t TargetWidth = 300;
    int32_t TargetHeight = 200;
    bool UseFilter = false;
    bool ForceTargetFormat = false;
    TImageFormat TargetFormat = ifRgb24;
    TResampleKernel Kernel = rkTriangle;

    void ApplyOnDest(const TDibGraphic& source, TDibGraphic& destination) override;
    void ApplyInPlace(TDibGraphic& bitmap) override;
    const char* ClassName() const override { return "TResizeTransform"; }

    // True when the unfiltered path would average (more than 1024 pixels and
    // true colour) rather than take nearest pixels.
    static bool UsesHalftone(const TDibGraphic& source);
};
