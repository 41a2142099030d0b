// SPDX-License-Identifier: GPL-2.0-or-later
#include "platform/graphic.h"

#include "platform/exceptions.h"
#include "platform/streams.h"

const TGraphicClass TGraphic::classInfo{"TGraphic", nullptr, nullptr};

void TGraphic::Assign(const TGraphic* source)
{
    throw Exception(
        formatMessage("Cannot assign a %s to a %s", {source ? source->ClassName() : std::string("nil"), ClassName()}));
}

void TGraphic::LoadFromFile(const std::string& fileName)
{
    TFileStream stream(fileName, FileMode::OpenReadShareDenyNone);
    ReadFromStream(stream);
}

void TGraphic::SaveToFile(const std::string& fileName)
{
    TFileStream stream(fileName, FileMode::Create);
    WriteToStream(stream);
}
