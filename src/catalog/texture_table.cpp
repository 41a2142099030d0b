// SPDX-License-Identifier: GPL-2.0-or-later
#include "catalog/texture_table.h"

#include "tables/record_table.h"

using namespace TextureField;

std::unique_ptr<RecordTable> makeTextureTable()
{
    return std::make_unique<RecordTable>("QueryTXD",
                                         std::vector<FieldDef>{
                                             {kPos, FieldKind::Integer, 0},
                                             {kDirId, FieldKind::Integer, 0},
                                             {kName, FieldKind::Text, 32},
                                             {kDesc, FieldKind::Text, 32},
                                             {kSize, FieldKind::Integer, 0},
                                             {kType, FieldKind::Text, 40},
                                             {kDimensions, FieldKind::Text, 40},
                                             {kImagePos, FieldKind::Integer, 0},
                                             {kPaletted, FieldKind::Boolean, 0},
                                             {kWidth, FieldKind::Integer, 0},
                                             {kHeight, FieldKind::Integer, 0},
                                             {kBits, FieldKind::Integer, 0},
                                             {kFormat, FieldKind::Text, 8},
                                             {kLevels, FieldKind::Integer, 0},
                                             {kAlpha, FieldKind::Text, 3},
                                             {kLayout, FieldKind::Integer, 0},
                                         },
                                         true);
}

std::vector<TableColumn> textureGridColumns()
{
    return {{kPos, 25},  {kName, 89},   {kSize, 63},   {kType, 59}, {kDimensions, 78},
            {kDesc, 72}, {kFormat, 40}, {kLevels, 38}, {kAlpha, 36}};
}

void fillTextureTable(RecordTable& table, const TextureListing& listing, int64_t dirId)
{
    // Grid updates resume on every way out; a failing resume during an
    // error's unwinding leaves that first error to be shown.
    RecordTable::SuspendGuard suspended(table);
    RecordField& pos = table.FieldByName(kPos);
    RecordField& dir = table.FieldByName(kDirId);
    RecordField& name = table.FieldByName(kName);
    RecordField& desc = table.FieldByName(kDesc);
    RecordField& dimensions = table.FieldByName(kDimensions);
    RecordField& width = table.FieldByName(kWidth);
    RecordField& height = table.FieldByName(kHeight);
    RecordField& type = table.FieldByName(kType);
    RecordField& imagePos = table.FieldByName(kImagePos);
    RecordField& paletted = table.FieldByName(kPaletted);
    RecordField& bits = table.FieldByName(kBits);
    RecordField& size = table.FieldByName(kSize);
    RecordField& format = table.FieldByName(kFormat);
    RecordField& levels = table.FieldByName(kLevels);
    RecordField& alpha = table.FieldByName(kAlpha);
    RecordField& layoutNumber = table.FieldByName(kLayout);
    for (const TextureRow& row : listing.rows) {
        table.Append();
        pos.SetAsInteger(row.pos);
        dir.SetAsInteger(dirId);
        name.SetAsString(row.name);
        desc.SetAsString(row.maskName);
        dimensions.SetAsString(row.dimensions());
        width.SetAsInteger(row.width);
        height.SetAsInteger(row.height);
        // A texture whose data cannot be reached keeps its kind fields unset.
        if (row.hasData) {
            type.SetAsString(row.type);
            imagePos.SetAsInteger(row.imagePos);
            paletted.SetAsBoolean(row.paletted);
            bits.SetAsInteger(row.bits);
            size.SetAsInteger(row.dataSize);
            const TexelLayout layout = textureRowLayout(row);
            format.SetAsString(texelFormatName(layout.format));
            levels.SetAsInteger(layout.levels);
            alpha.SetAsString(texelLayoutHasAlpha(layout) ? "yes" : "no");
            if (row.sectioned)
                layoutNumber.SetAsInteger(static_cast<int64_t>(row.layout.format));
        }
        table.Post();
    }
}

TextureRef currentTextureRef(RecordTable& table)
{
    TextureRef t;
    if (table.IsEmpty() || table.CurrentIndex() < 0)
        return t;
    t.present = true;
    RecordField& imagePos = table.FieldByName(kImagePos);
    t.hasData = !imagePos.IsNull();
    t.imagePos = imagePos.AsInteger();
    t.paletted = table.FieldByName(kPaletted).AsBoolean();
    t.bits = static_cast<int>(table.FieldByName(kBits).AsInteger());
    t.width = static_cast<int>(table.FieldByName(kWidth).AsInteger());
    t.height = static_cast<int>(table.FieldByName(kHeight).AsInteger());
    t.name = table.FieldByName(kName).AsString();
    RecordField& layoutNumber = table.FieldByName(kLayout);
    if (t.hasData && !layoutNumber.IsNull()) {
        const int64_t value = layoutNumber.AsInteger();
        t.sectioned = true;
        if (value > 0 && value <= static_cast<int64_t>(TexelFormat::Dxt5))
            t.layout.format = static_cast<TexelFormat>(value);
        t.layout.width = t.width;
        t.layout.height = t.height;
        t.layout.levels = static_cast<int>(table.FieldByName(kLevels).AsInteger());
        t.layout.dxt1Alpha = t.layout.format == TexelFormat::Dxt1 && table.FieldByName(kAlpha).AsString() == "yes";
    }
    return t;
}
