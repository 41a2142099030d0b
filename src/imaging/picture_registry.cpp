// SPDX-License-Identifier: GPL-2.0-or-later
#include "imaging/picture_registry.h"

#include "imaging/readers/bmp_graphic.h"
#include "imaging/readers/icon_graphic.h"
#include "imaging/readers/jpeg_graphic.h"
#include "imaging/readers/metafile_graphic.h"
#include "imaging/readers/pcx_graphic.h"
#include "imaging/readers/png_graphic.h"
#include "imaging/readers/tga_graphic.h"
#include "imaging/readers/tiff_graphic.h"
#include "platform/environment.h"
#include "platform/text.h"

#include <algorithm>
#include <cstring>

namespace {

struct Registry {
    bool libraryStarted = false;
    bool containerCreated = false;
    std::vector<PictureFormatEntry> formats;
    std::vector<PictureFileFormat> fileFormats;
    int busyDepth = 0;
};

Registry& registry()
{
    static Registry r;
    return r;
}

// The picture container's own types, present from the container's first use.
void createContainer(Registry& r)
{
    if (r.containerCreated)
        return;
    r.containerCreated = true;
    r.fileFormats.insert(r.fileFormats.begin(), {
                                                    {"wmf", "Metafiles", &TMetaFileGraphic::classInfo},
                                                    {"emf", "Enhanced Metafiles", &TMetaFileGraphic::classInfo},
                                                    {"ico", "Icons", &TIconGraphic::classInfo},
                                                    {"bmp", "Bitmaps", &TBitmapGraphic::classInfo},
                                                });
}

void addFormat(const std::string& ext, const std::string& desc, const TGraphicClass& cls)
{
    Registry& r = registry();
    createContainer(r);
    r.fileFormats.push_back({localeLower(ext), desc, &cls});
    r.formats.push_back({localeUpper(ext), &cls});
}

// Every registry operation starts the library first, so that its own formats
// come before anything registered later.
Registry& started()
{
    InitImageLibrary();
    return registry();
}

std::unique_ptr<TDibGraphic> createDib(const TGraphicClass& cls)
{
    if (!cls.create || !cls.inheritsFrom(TDibGraphic::classInfo))
        return nullptr;
    std::unique_ptr<TGraphic> g = cls.create();
    auto* dib = dynamic_cast<TDibGraphic*>(g.get());
    if (!dib)
        return nullptr;
    g.release();
    return std::unique_ptr<TDibGraphic>(dib);
}

[[noreturn]] void failNotSupported(const std::string& name)
{
    throw ETavrinError(
        formatMessage("Graphic files of %s format are not supported or not registered", {PictureNameExtension(name)}));
}

// Restores the default cursor when the outermost busy phase ends.
class BusyPhase {
public:
    BusyPhase()
    {
        if (registry().busyDepth++ == 0)
            setBusyCursor(true);
    }
    ~BusyPhase()
    {
        if (--registry().busyDepth == 0)
            setBusyCursor(false);
    }
    BusyPhase(const BusyPhase&) = delete;
    BusyPhase& operator=(const BusyPhase&) = delete;
};

}  // namespace

void InitImageLibrary()
{
    Registry& r = registry();
    if (r.libraryStarted)
        return;
    r.libraryStarted = true;

    struct Registration {
        const char* extension;
        const char* description;
        const TGraphicClass* graphicClass;
    };
    static const Registration kLibraryFormats[] = {
        {"TIF", "TIFF file", &TTiffGraphic::classInfo},
        {"TIFF", "TIFF file", &TTiffGraphic::classInfo},
        {"TGA", "Truevision Targa", &TTgaGraphic::classInfo},
        {"VST", "Truevision Vista", &TTgaGraphic::classInfo},
        {"AFI", "Truevision Targa", &TTgaGraphic::classInfo},
        {"PCX", "ZSoft PC Paintbrush", &TPcxGraphic::classInfo},
        {"PCC", "ZSoft PC Paintbrush", &TPcxGraphic::classInfo},
        {"DCX", "DCX file", &TDcxGraphic::classInfo},
        {"JPG", "JPEG", &TJpegGraphic::classInfo},
        {"JPEG", "JPEG", &TJpegGraphic::classInfo},
        {"PNG", "Portable Network Graphic", &TPngGraphic::classInfo},
    };
    for (const Registration& f : kLibraryFormats)
        addFormat(f.extension, f.description, *f.graphicClass);
}

void RegisterImportPreviewFormats()
{
    started();
    if (!FindPictureFormat("*.BMP"))
        RegisterPictureFormat("BMP", "Bitmap file", TBitmapGraphic::classInfo);
    if (!FindPictureFormat("*.ICO"))
        RegisterPictureFormat("ICO", "Windows icon", TIconGraphic::classInfo);
    if (!FindPictureFormat("*.WMF")) {
        RegisterPictureFormat("WMF", "Windows meta file", TMetaFileGraphic::classInfo);
        RegisterPictureFormat("EMF", "Enhanced meta file", TMetaFileGraphic::classInfo);
    }
}

void RegisterPictureFormat(const std::string& ext, const std::string& desc, const TGraphicClass& cls)
{
    started();
    addFormat(ext, desc, cls);
}

const std::vector<PictureFormatEntry>& PictureFormatRegistry()
{
    return started().formats;
}

const std::vector<PictureFileFormat>& PictureFileFormats()
{
    return started().fileFormats;
}

std::string PictureNameExtension(const std::string& name)
{
    const size_t separator = name.find_last_of("\\:/");
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || (separator != std::string::npos && dot < separator))
        return std::string();
    return name.substr(dot);
}

const TGraphicClass* FindPictureFormat(const std::string& name)
{
    const Registry& r = started();
    std::string ext = localeUpper(PictureNameExtension(name));
    if (ext.empty())
        ext = "." + name;  // a bare format name, as given
    const std::string key = ext.substr(1);
    for (const PictureFormatEntry& e : r.formats)
        if (sameTextIgnoreCaseUtf8(e.extension, key))
            return e.graphicClass;
    return nullptr;
}

std::unique_ptr<TDibGraphic> CreatePictureForName(const std::string& name)
{
    const TGraphicClass* cls = FindPictureFormat(name);
    if (!cls)
        failNotSupported(name);
    std::unique_ptr<TDibGraphic> picture = createDib(*cls);
    if (!picture)
        failNotSupported(name);
    return picture;
}

std::string BuildPictureFilter(const TGraphicClass& base)
{
    const Registry& r = started();
    std::string descriptions;
    std::string patterns;
    int taken = 0;
    for (auto it = r.fileFormats.rbegin(); it != r.fileFormats.rend(); ++it) {
        if (!it->graphicClass || !it->graphicClass->inheritsFrom(base) || it->extension.empty())
            continue;
        if (taken > 0) {
            descriptions += '|';
            patterns += ';';
        }
        descriptions += it->description + " (*." + it->extension + ")|*." + it->extension;
        patterns += "*." + it->extension;
        ++taken;
    }
    if (taken > 1)
        return "All (" + patterns + ")|" + patterns + "|" + descriptions;
    return descriptions;
}

std::unique_ptr<TDibGraphic> LoadPictureFromContainer(TStream& s, const std::string& name, bool keepAlpha)
{
    const Registry& r = started();
    std::string ext = PictureNameExtension(name);
    if (!ext.empty())
        ext = localeLower(ext.substr(1));
    for (auto it = r.fileFormats.rbegin(); it != r.fileFormats.rend(); ++it) {
        if (it->extension != ext)
            continue;
        std::unique_ptr<TDibGraphic> reader = createDib(*it->graphicClass);
        if (!reader)
            break;
        reader->KeepAlpha = keepAlpha;
        reader->ReadFromStream(s);
        auto picture = std::make_unique<TDibGraphic>();
        picture->Assign(reader.get());
        if (reader->AlphaPlane.size() == size_t(picture->Width()) * size_t(picture->Height()))
            picture->AlphaPlane = std::move(reader->AlphaPlane);
        return picture;
    }
    throw EInvalidGraphic(formatMessage("Unknown picture file extension (.%s)", {ext}));
}

std::unique_ptr<TDibGraphic> LoadPictureFromStream(TStream& s, const std::string& name, int imageIndex, bool keepAlpha)
{
    if (!FindPictureFormat(name))
        return LoadPictureFromContainer(s, name, keepAlpha);
    std::unique_ptr<TDibGraphic> picture = CreatePictureForName(name);
    picture->KeepAlpha = keepAlpha;
    if (imageIndex != 0)
        picture->ImageIndex = imageIndex;
    else
        picture->MultiImage = true;
    picture->ReadFromStream(s);
    return picture;
}

std::unique_ptr<TDibGraphic> LoadPictureFromFile(const std::string& fileName, int imageIndex, bool keepAlpha)
{
    TFileStream file(fileName, FileMode::OpenReadShareDenyNone);
    std::unique_ptr<TDibGraphic> picture = LoadPictureFromStream(file, fileName, imageIndex, keepAlpha);
    // A plane that does not match the picture (a reader that made it before
    // changing its size) is no alpha at all.
    if (picture->AlphaPlane.size() != size_t(picture->Width()) * size_t(picture->Height()))
        picture->AlphaPlane.clear();
    return picture;
}

bool ReadWithoutAlphaIsSame(const std::string& fileName, const TDibGraphic& withAlpha)
{
    if (!dynamic_cast<const TPngGraphic*>(&withAlpha) || withAlpha.ImageFormat() != ifRgb24)
        return false;
    const std::vector<uint8_t>& alpha = withAlpha.AlphaPlane;
    if (!std::all_of(alpha.begin(), alpha.end(), [](uint8_t a) { return a == 255; }))
        return false;
    // The signature, then the IHDR chunk: length, type, width, height, bit
    // depth, colour type.
    uint8_t head[26];
    try {
        TFileStream file(fileName, FileMode::OpenReadShareDenyNone);
        if (file.ReadFully(head, sizeof head) != int64_t(sizeof head))
            return false;
    } catch (const Exception&) {
        return false;
    }
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const uint8_t bitDepth = head[24], colourType = head[25];
    return std::memcmp(head, kSignature, 8) == 0 && std::memcmp(head + 12, "IHDR", 4) == 0 && bitDepth == 8
           && (colourType == 2 || colourType == 6);
}

void SavePictureToStream(const TDibGraphic& bitmap, TStream& s, const std::string& formatName,
                         const std::function<void(TDibGraphic&)>& beforeSave)
{
    BusyPhase busy;
    std::unique_ptr<TDibGraphic> picture = CreatePictureForName(formatName);
    picture->Assign(&bitmap);
    if (beforeSave)
        beforeSave(*picture);
    picture->WriteToStream(s);
}

void ResetPictureRegistryForTesting()
{
    Registry& r = registry();
    r.libraryStarted = false;
    r.containerCreated = false;
    r.formats.clear();
    r.fileFormats.clear();
}
