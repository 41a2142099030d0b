// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The registry of picture formats: file extensions (or bare format names such
// as "TGA") mapped to picture classes, each derived from TDibGraphic.
//
// Two lists are kept:
// - PictureFormatRegistry: (upper-cased extension, class), in order of
//   registration; what loading and saving by name look up;
// - PictureFileFormats: the picture container's format list (lower-cased
//   extension, description, class), starting with the container's own four
//   entries (wmf, emf, ico, bmp); what the open dialog's filter and preview use.
// The library's own formats (TIF ... PNG) are registered by InitImageLibrary,
// which runs on the first use of either list.
#include "imaging/dib_graphic.h"
#include "platform/streams.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

struct PictureFormatEntry {
    std::string extension;  // upper-cased, without the dot
    const TGraphicClass* graphicClass;
};

struct PictureFileFormat {
    std::string extension;  // lower-cased, without the dot
    std::string description;
    const TGraphicClass* graphicClass;
};

// Registers the library's formats 1..11 (TIF, TIFF, TGA, VST, AFI, PCX, PCC,
// DCX, JPG, JPEG, PNG) once; later calls do nothing.
void InitImageLibrary();
// Registers BMP, ICO, and WMF together with EMF, each only when
// FindPictureFormat("*.BMP" / "*.ICO" / "*.WMF") finds nothing, so a second
// call adds nothing.
void RegisterImportPreviewFormats();

// Appends (lower-cased extension, description, class) to PictureFileFormats
// and (upper-cased extension, class) to PictureFormatRegistry. Nothing is
// verified; registering an extension twice adds two entries.
void RegisterPictureFormat(const std::string& ext, const std::string& desc, const TGraphicClass& cls);

const std::vector<PictureFormatEntry>& PictureFormatRegistry();
const std::vector<PictureFileFormat>& PictureFileFormats();

// The extension of a name: the text from the last "." that comes after the
// last "\", ":" and "/" of the name, dot included; empty when there is none.
std::string PictureNameExtension(const std::string& name);

// The class registered for the name's extension, ignoring case; a name
// without an extension is taken as a bare format name ("TGA"). nullptr when
// none is registered.
const TGraphicClass* FindPictureFormat(const std::string& name);
// A new, empty picture of the class FindPictureFormat finds. None found:
// ETavrinError "Graphic files of %s format are not supported or not registered"
// (the extension with its dot).
std::unique_ptr<TDibGraphic> CreatePictureForName(const std::string& name);

// Dialog filter "All (patterns)|patterns|desc (*.ext)|*.ext|..." from
// PictureFileFormats, newest entry first, for the classes derived from `base`.
std::string BuildPictureFilter(const TGraphicClass& base);

// Reads a picture from the stream's current position with the class the
// name selects. Image index 0 sets the picture's multi-image flag, any other
// index becomes its image index. A name whose extension is not in the
// registry is looked up in PictureFileFormats (newest first); not there
// either: EInvalidGraphic "Unknown picture file extension (.%s)". Nothing is
// left behind on failure. `keepAlpha` sets the picture's KeepAlpha before it
// reads (TDibGraphic::AlphaPlane).
std::unique_ptr<TDibGraphic> LoadPictureFromStream(TStream& s, const std::string& name, int imageIndex,
                                                   bool keepAlpha = false);
// Opens the file for reading shared with everyone ("Cannot open file %s"),
// loads it by its name and closes it, also on failure.
std::unique_ptr<TDibGraphic> LoadPictureFromFile(const std::string& fileName, int imageIndex, bool keepAlpha = false);
// True when reading `fileName` without its alpha would give `withAlpha`
// (what reading it with its alpha gave) without its alpha plane, so that a
// second reading can be spared: a PNG file of 8-bit RGB or RGBA read into
// 24-bit colour whose alpha is opaque everywhere (the reader then blends
// nothing onto a background and corrects the colour alike both ways). Any
// other file: false, and it is read again.
bool ReadWithoutAlphaIsSame(const std::string& fileName, const TDibGraphic& withAlpha);
// Loads through the picture container's list only (PictureFileFormats, newest
// entry first) into a plain TDibGraphic; the open dialog's preview reads this way.
// EInvalidGraphic "Unknown picture file extension (.%s)" when no entry matches.
std::unique_ptr<TDibGraphic> LoadPictureFromContainer(TStream& s, const std::string& name, bool keepAlpha = false);

// Saves the bitmap in the format that `formatName` selects: a new picture of
// that class is assigned from the bitmap, shown to `beforeSave` (when set) and
// written to the stream; it is freed afterwards. The busy cursor is shown
// while the outermost of nested saves runs and reset when it ends, also on failure.
void SavePictureToStream(const TDibGraphic& bitmap, TStream& s, const std::string& formatName,
                         const std::function<void(TDibGraphic&)>& beforeSave = {});

// Tests only: forgets every registration, as before the library started.
void ResetPictureRegistryForTesting();
