// SPDX-License-Identifier: GPL-2.0-or-later
#include "texture/ui/form_image.h"

#include "imaging/picture_registry.h"

#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>

#include <algorithm>
#include <cmath>

namespace {
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kButtonsFromBottom = 306 - 272;  // at design: top 272 in a client area 306 high
// Horizontal centres of the buttons at design, in a client area 256 wide.
constexpr double kImportCentre = 26 + kButtonWidth / 2.0;
constexpr double kCancelCentre = 154 + kButtonWidth / 2.0;
}  // namespace

TFormImage::TFormImage(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Preview"));
    setSizeGripEnabled(false);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    setFont(font);

    ImageScrollBox = new TImageScrollBox(this);
    ImageScrollBox->setObjectName(QStringLiteral("ImageScrollBox"));
    ImageScrollBox->SetAntiAliased(false);
    ImageScrollBox->SetCentered(true);
    ImageScrollBox->SetZoomMode(zmOriginalSize);

    Button1 = new QPushButton(QStringLiteral("Import"), this);
    Button2 = new QPushButton(QStringLiteral("Cancel"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button2->setObjectName(QStringLiteral("Button2"));
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);

    resize(kDesignClientWidth, kDesignClientHeight);
    layoutControls();
    FormCreate();
}

void TFormImage::FormCreate()
{
    RegisterImportPreviewFormats();
}

void TFormImage::FormShow()
{
    ImageScrollBox->Redraw(true);
}

void TFormImage::SizeForTexture(int width, int height)
{
    const int w = std::min(kMaxClientSide, std::max(width, kDesignClientWidth));
    const int h = std::min(kMaxClientSide, std::max(height + kBandHeight, kDesignClientHeight));
    resize(w, h);
    layoutControls();
}

void TFormImage::layoutControls()
{
    const int w = width();
    const int h = height();
    ImageScrollBox->setGeometry(0, 0, w, std::max(0, h - kBandHeight));
    const int top = h - kButtonsFromBottom;
    const auto leftFor = [w](double designCentre) {
        return int(std::lround(designCentre * w / kDesignClientWidth - kButtonWidth / 2.0));
    };
    Button1->setGeometry(leftFor(kImportCentre), top, kButtonWidth, kButtonHeight);
    Button2->setGeometry(leftFor(kCancelCentre), top, kButtonWidth, kButtonHeight);
}

void TFormImage::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    layoutControls();
}

void TFormImage::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect avail = screen->availableGeometry();
        move(avail.center() - QPoint(width() / 2, height() / 2));
    }
    FormShow();
}

bool TFormImage::showModal()
{
    return exec() == QDialog::Accepted;
}
