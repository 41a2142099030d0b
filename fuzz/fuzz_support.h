// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// What the picture-reader fuzz targets share: read a picture from the fuzz
// input and touch its whole pixel store, so that the sanitizers see any row
// that lies outside it; a reader's Exception is an accepted outcome.
#include "imaging/dib_graphic.h"
#include "platform/environment.h"
#include "platform/streams.h"

#include <QGuiApplication>
#include <cstddef>
#include <cstdint>

inline void touchEveryRow(const TDibGraphic& picture)
{
    volatile uint32_t sum = 0;
    for (int y = 0; y < picture.Height(); ++y)
        sum = sum + picture.RowPointer(y)[0] + picture.RowPointer(y)[picture.RowStride() - 1];
}

// Reads image `index` of the input with a new Picture; warnings are dropped.
template <class Picture>
void readAndTouch(const uint8_t* data, size_t size, int index = 1)
{
    static const bool quiet = [] {
        setWarningHook([](const std::string&, const std::string&) {});
        return true;
    }();
    (void)quiet;
    TReadOnlyMemoryStream stream(data, int64_t(size));
    Picture picture;
    picture.ImageIndex = index;
    try {
        picture.ReadFromStream(stream);
    } catch (const Exception&) {
        return;
    }
    touchEveryRow(picture);
}

// The program draws metafiles with a QGuiApplication (and its fonts) around;
// so do the fuzzers, with the platform that needs no display.
inline void startGuiApplication(char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int qtArgc = 1;
    static char* qtArgv[] = {argv[0], nullptr};
    static QGuiApplication* app = new QGuiApplication(qtArgc, qtArgv);
    (void)app;
}
