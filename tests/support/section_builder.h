// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Sectioned dictionaries put together section by section, for tests that
// need what the fixture writer does not make: sections of any type between
// the textures, a library stamp of its own on each section, bytes after the
// levels inside a texture's struct.
#include "formats/sectioned_dictionary_writer.h"

#include <cstdint>
#include <vector>

namespace section_builder {

using Bytes = std::vector<uint8_t>;

// A section: type, body size, stamp, then the body.
Bytes section(uint32_t type, uint32_t stamp, const Bytes& body);

// The texture section the fixture writer makes of `t`, with `stamp` on its
// texture, struct and extension sections.
Bytes textureSection(const SectionedTexture& t, uint32_t stamp);

// A dictionary section: its struct (count, device) and then `children` as
// given, every header with `stamp` unless the children carry their own.
Bytes dictionary(uint32_t stamp, uint16_t count, uint16_t device, const std::vector<Bytes>& children);

// Concatenation.
Bytes join(const std::vector<Bytes>& parts);

}  // namespace section_builder
