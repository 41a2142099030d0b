// SPDX-License-Identifier: GPL-2.0-or-later
#include "support/section_builder.h"

#include "platform/byte_order.h"

namespace section_builder {

Bytes section(uint32_t type, uint32_t stamp, const Bytes& body)
{
    Bytes out;
    appendLe32(out, type);
    appendLe32(out, uint32_t(body.size()));
    appendLe32(out, stamp);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes textureSection(const SectionedTexture& t, uint32_t stamp)
{
    SectionedDictionary d;
    d.libraryVersion = stamp;
    d.textures.push_back(t);
    std::vector<WrittenSectionedTexture> written;
    const Bytes whole = buildSectionedDictionary(d, &written);
    return Bytes(whole.begin() + written[0].sectionOffset, whole.begin() + written[0].endOffset);
}

Bytes dictionary(uint32_t stamp, uint16_t count, uint16_t device, const std::vector<Bytes>& children)
{
    Bytes info;
    appendLe16(info, count);
    appendLe16(info, device);
    Bytes body = section(0x01, stamp, info);
    for (const Bytes& c : children)
        body.insert(body.end(), c.begin(), c.end());
    return section(0x16, stamp, body);
}

Bytes join(const std::vector<Bytes>& parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

}  // namespace section_builder
