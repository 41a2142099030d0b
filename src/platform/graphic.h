// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The abstract picture that the picture-format registry and the picture
// container work with, and the class descriptors that stand for "a picture
// class" (create an instance by class, test derivation, get the class name).
#include <memory>
#include <string>

class QPainter;
class QRect;
class TStream;
class TGraphic;

struct TGraphicClass {
    const char* name;
    const TGraphicClass* parent;            // nullptr for the root
    std::unique_ptr<TGraphic> (*create)();  // nullptr for abstract classes

    bool inheritsFrom(const TGraphicClass& base) const
    {
        for (const TGraphicClass* c = this; c; c = c->parent)
            if (c == &base)
                return true;
        return false;
    }
};

// Put in the public part of each concrete picture class.
#define QX_GRAPHIC_CLASS()                                                                                             \
public:                                                                                                                \
    static const TGraphicClass classInfo;                                                                              \
    const TGraphicClass& graphicClass() const override                                                                 \
    {                                                                                                                  \
        return classInfo;                                                                                              \
    }

// Put in the class's .cpp file.
#define QX_DEFINE_GRAPHIC_CLASS(Name, Parent)                                                                          \
    const TGraphicClass Name::classInfo                                                                                \
    {                                                                                                                  \
#Name, &Parent::classInfo, []() -> std::unique_ptr < TGraphic> { return std::make_unique<Name>(); }            \
    }

class TGraphic {
public:
    static const TGraphicClass classInfo;  // "TGraphic", abstract
    virtual ~TGraphic() = default;
    TGraphic() = default;
    TGraphic(const TGraphic&) = delete;
    TGraphic& operator=(const TGraphic&) = delete;

    virtual const TGraphicClass& graphicClass() const { return classInfo; }
    std::string ClassName() const { return graphicClass().name; }

    // Copies `source` into this picture. The base refuses with
    // "Cannot assign a %s to a %s" (source class or "nil", this class).
    virtual void Assign(const TGraphic* source);
    // Draws the whole picture scaled into `rect`.
    virtual void Draw(QPainter& canvas, const QRect& rect) const = 0;
    virtual bool IsEmpty() const = 0;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual void SetWidth(int value) = 0;
    virtual void SetHeight(int value) = 0;
    virtual void ReadFromStream(TStream& stream) = 0;
    virtual void WriteToStream(TStream& stream) = 0;

    // Opens the file shared for reading by everyone and reads it.
    void LoadFromFile(const std::string& fileName);
    // Creates or replaces the file and writes the picture.
    void SaveToFile(const std::string& fileName);
};
