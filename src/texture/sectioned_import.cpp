// SPDX-License-Identifier: GPL-2.0-or-later
#include "texture/sectioned_import.h"

#include "imaging/picture_registry.h"
#include "platform/cancellation.h"
#include "platform/streams.h"
#include "platform/text.h"
#include "texture/archive_dictionary.h"
#include "texture/dictionary_changes.h"
#include "texture/texture_import.h"
#include "texture/texture_levels.h"

namespace {

QSize chosenSize(const TextureRef& texture, const SectionedImportChoice& choice)
{
    switch (choice.size) {
    case SectionedImportChoice::Size::Texture: return QSize(texture.width, texture.height);
    case SectionedImportChoice::Size::Typed: return choice.typed;
    case SectionedImportChoice::Size::Picture: break;
    }
    return QSize();
}

// Level 0 of a texture's content as a picture: its colours, and its alpha
// beside them where the layout holds alpha.
std::unique_ptr<TDibGraphic> shownLevel(const TextureContent& content, const std::string& name)
{
    TextureRef ref;
    ref.present = true;
    ref.hasData = true;
    ref.imagePos = 0;
    ref.sectioned = true;
    ref.layout = content.layout;
    ref.width = content.layout.width;
    ref.height = content.layout.height;
    ref.name = name;
    TReadOnlyMemoryStream bytes(content.data.data(), int64_t(content.data.size()));
    const TextureLevel level = readTextureLevel(bytes, ref, 0);
    if (level.problem != TextureProblem::None)
        throw EImportError("The picture could not be encoded for this texture");
    auto picture = std::make_unique<TDibGraphic>();
    picture->NewImage(level.width, level.height, ifRgb24, nullptr, 0, 0);
    const bool alpha = texelLayoutHasAlpha(content.layout);
    if (alpha)
        picture->AlphaPlane.resize(size_t(level.width) * size_t(level.height));
    for (int y = 0; y < level.height; ++y) {
        uint8_t* row = picture->RowPointer(y);
        const uint8_t* in = level.bgra.data() + size_t(y) * size_t(level.width) * 4;
        for (int x = 0; x < level.width; ++x) {
            row[3 * x] = in[4 * x];
            row[3 * x + 1] = in[4 * x + 1];
            row[3 * x + 2] = in[4 * x + 2];
            if (alpha)
                picture->AlphaPlane[size_t(y) * size_t(level.width) + size_t(x)] = in[4 * x + 3];
        }
    }
    return picture;
}

}  // namespace

SectionedImportChoice ownChoiceOf(const TextureRef& texture)
{
    SectionedImportChoice choice;
    choice.size = SectionedImportChoice::Size::Texture;
    choice.typed = QSize(texture.width, texture.height);
    choice.format = texture.layout.format;
    choice.levels = texture.layout.levels > 1;
    return choice;
}

bool choiceIsInPlace(const TextureRef& texture, const SectionedImportChoice& choice)
{
    return choice.size != SectionedImportChoice::Size::Picture
           && chosenSize(texture, choice) == QSize(texture.width, texture.height)
           && choice.format == texture.layout.format && choice.levels == (texture.layout.levels > 1);
}

TextureBuildRequest rebuildRequestOf(const TextureRef& texture, uint32_t platform, const SectionedImportChoice& choice)
{
    TextureBuildRequest request;
    if (choice.size != SectionedImportChoice::Size::Picture)
        request.size = chosenSize(texture, choice);
    request.format = choice.format;
    request.levels = choice.levels ? LevelsChoice{LevelsChoice::All, 0} : LevelsChoice{LevelsChoice::Count, 1};
    request.previousLevels = texture.layout.levels;
    request.platform = platform;
    request.exact = choice.exact;
    request.dxt = choice.dxt;
    return request;
}

RewritableTexture findRewritableTexture(const std::string& dataFile, bool standalone, const DirectoryEntry& entry,
                                        int64_t texturePos, const std::string& textureName)
{
    RewritableTexture found;
    try {
        std::vector<uint8_t> bytes;
        {
            TFileStream data(dataFile, FileMode::OpenReadShareDenyWrite);
            bytes = readEntryBytes(data, entry, standalone);
        }
        const HeldDictionary held = holdDictionary(entry, std::move(bytes), standalone);
        const int index = int(texturePos - 1);
        if (index < 0 || index >= held.tree.textureCount() || held.tree.texture(index).name() != textureName)
            throw EDictionaryError("The dictionary no longer holds the texture '" + displayName(textureName)
                                   + "' where it was listed");
        checkTextureReplaceable(held.tree, index);
        found.index = index;
        found.platform = held.tree.texture(index).platform();
        found.rewritable = true;
    } catch (const EDictionaryError& e) {
        found.whyNot = e.message();
    }
    return found;
}

PreparedSectionedImport prepareSectionedImport(const std::string& archiveFileName, const TextureRef& texture,
                                               uint32_t platform, const std::string& pictureFile,
                                               const SectionedImportChoice& choice)
{
    PreparedSectionedImport prepared;
    prepared.inPlace = choiceIsInPlace(texture, choice);
    if (prepared.inPlace) {
        std::unique_ptr<TDibGraphic> loaded;
        ImportDriver driver;
        driver.choosePicture = [&pictureFile] { return std::optional<std::string>(pictureFile); };
        driver.loadPicture = [&loaded, &prepared](const std::string& file, bool keepAlpha) -> TDibGraphic& {
            loaded = LoadPictureFromFile(file, 1, keepAlpha);
            prepared.pictureSize = QSize(loaded->Width(), loaded->Height());
            return *loaded;
        };
        ImportOptions options;
        options.exact = choice.exact;
        options.dxt = choice.dxt;
        const PreparedImport ready = prepareImport(archiveFileName, texture, driver, options);
        if (!ready.ready || !ready.picture)
            throw EImportError("The picture was not prepared for this texture");
        throwIfCancelled();
        prepared.content.layout = texture.layout;
        prepared.content.data =
            buildSectionedImportBlock(*ready.picture, texture, ready.alpha, ready.unreducedBgra, choice.dxt);
    } else {
        const TextureBuildRequest request = rebuildRequestOf(texture, platform, choice);
        LoadedPicture loaded = loadPictureForTexture(pictureFile, layoutUsesAlpha(choice.format));
        prepared.pictureSize = QSize(loaded.picture->Width(), loaded.picture->Height());
        const QSize size = request.size.value_or(prepared.pictureSize);
        checkTextureSize(choice.format, size.width(), size.height(), "choose another size");
        throwIfCancelled();
        prepared.content = buildTextureContent(*loaded.picture, std::move(loaded.alpha), request);
    }
    throwIfCancelled();
    prepared.shown = shownLevel(prepared.content, texture.name);
    return prepared;
}

DirectoryEntry writeRebuiltTexture(ArchiveEditor& editor, const DirectoryEntry& entry, int index,
                                   const std::string& name, uint32_t platform, TextureContent content)
{
    HeldDictionary held = readHeldDictionary(editor, entry);
    if (index < 0 || index >= held.tree.textureCount() || held.tree.texture(index).name() != name
        || held.tree.texture(index).platform() != platform)
        throw EDictionaryError("The dictionary no longer holds the texture '" + displayName(name)
                               + "' as it was when the import began; nothing was written");
    return writeImportedTexture(editor, held, index, std::move(content));
}
