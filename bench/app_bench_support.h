// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// What the benchmarks of the main window share: dialogs that answer Open
// with one path and the replace dialog with a set request, and end the run
// on any error box, since a benchmark that fails quietly measures nothing.
#include "app/main_form.h"
#include "formats/archive_sample.h"
#include "formats/sectioned_dictionary_writer.h"
#include "support/gui_test_app.h"

#include <cstdio>
#include <cstdlib>

class BenchDialogs : public UserDialogs {
public:
    explicit BenchDialogs(std::string path) : path_(std::move(path)) {}
    std::optional<std::string> openFile(const FileDialogSetup&) override { return path_; }
    std::optional<std::string> saveFile(const FileDialogSetup&) override { return std::nullopt; }
    bool confirm(const std::string&, const std::string&) override { return false; }
    void errorBox(const std::string&, const std::string& text) override
    {
        std::fprintf(stderr, "error box: %s\n", text.c_str());
        std::abort();
    }
    void messageBox(const std::string&, const std::string& text) override { lastMessage = text; }
    std::optional<std::string> findInputBox(const std::string&) override { return std::nullopt; }
    std::optional<ReplaceRequest> replaceDialog() override { return request; }
    std::optional<std::string> openPicture(const FileDialogSetup&) override { return std::nullopt; }
    bool showImportPreview(ModalForm&) override { return false; }

    ReplaceRequest request;
    std::string lastMessage;

private:
    std::string path_;
};

// 29 small paletted textures and a 256 x 256 true-colour one last.
inline std::vector<uint8_t> thirtyTextureDictionary()
{
    TextureDictionary d;
    const auto ring = archive_sample::indexedRings(32, 32);
    for (int i = 0; i < 29; ++i)
        d.textures.push_back(makeTexturePaletted8("small" + std::to_string(i), "", 32, 32, ring.palette, ring.indices));
    d.textures.push_back(makeTexture32("big", "bigMask", 256, 256, archive_sample::plasma(256, 256)));
    return buildTextureDictionary(d);
}

// A sectioned dictionary of 29 small textures of several layouts, with mip
// levels, and a 1024 x 1024 DXT5 texture with 11 levels last. Any 16 bytes
// are a DXT5 block, so the levels are filled with a byte pattern.
inline std::vector<uint8_t> thirtyTextureSectionedDictionary()
{
    SectionedDictionary d;
    const TexelFormat formats[] = {TexelFormat::Paletted8, TexelFormat::Rgb565, TexelFormat::Dxt1,
                                   TexelFormat::Bgra8888};
    auto texture = [](const std::string& name, TexelFormat format, int size, int levels) {
        SectionedTexture t;
        t.name = name;
        t.layout = {format, false, size, size, levels};
        if (texelFormatIsPaletted(format))
            t.palette.assign(1024, 0x7F);
        for (int k = 0; k < levels; ++k) {
            std::vector<uint8_t> level(size_t(texelLevelBytes(format, mipLevelSize(size, k), mipLevelSize(size, k))));
            for (size_t i = 0; i < level.size(); ++i)
                level[i] = uint8_t(i * 131 + (i >> 9) * 7 + k);
            t.levels.push_back(std::move(level));
        }
        return t;
    };
    for (int i = 0; i < 29; ++i)
        d.textures.push_back(texture("small" + std::to_string(i), formats[i % 4], 32, 6));
    d.textures.push_back(texture("big", TexelFormat::Dxt5, 1024, 11));
    return buildSectionedDictionary(d);
}
