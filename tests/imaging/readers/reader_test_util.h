// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Helpers shared by the picture reader tests.
#include "imaging/dib_graphic.h"
#include "platform/streams.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace reader_test {

// Reads `bytes` with a new picture of class T (image index `index`).
template <typename T>
std::unique_ptr<T> readPicture(const std::vector<uint8_t>& bytes, int index = 1)
{
    TMemoryStream stream(bytes);
    auto picture = std::make_unique<T>();
    picture->ImageIndex = index;
    picture->ReadFromStream(stream);
    return picture;
}

// The message of the exception of class E that `f` raises; a failure when it
// raises nothing or something else.
template <typename E, typename F>
std::string messageOf(F&& f)
{
    try {
        f();
    } catch (const E& e) {
        return e.message();
    } catch (const std::exception& e) {
        ADD_FAILURE() << "unexpected exception: " << e.what();
        return "<other exception>";
    }
    ADD_FAILURE() << "no exception";
    return "<none>";
}

inline uint32_t paletteColor(const TDibGraphic& g, int i)
{
    const TPaletteEntry& e = g.Palette().Entries[i];
    return MakeColor(e.peRed, e.peGreen, e.peBlue);
}

}  // namespace reader_test
