// SPDX-License-Identifier: GPL-2.0-or-later
#include "texture/ui/form_image.h"

#include "imaging/picture_registry.h"
#include "imaging/ui/alpha_icon.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>

#include <algorithm>
#include <cmath>

namespace {
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kButtonsFromBottom = 306 - 272;  // at design: top 272 in a client area 306 high
// Horizontal centres of the buttons at design, in a client area 256 wide.
constexpr double kImportCentre = 26 + kButtonWidth / 2.0;
constexpr double kCancelCentre = 154 + kButtonWidth / 2.0;
// The line above the buttons: from the band's top to the buttons' top.
constexpr int kLineHeight = TFormImage::kBandHeight - kButtonsFromBottom;
constexpr int kLineMargin = 4;
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

    CheckExact = new QCheckBox(QStringLiteral("Keep pixels exactly"), this);
    CheckExact->setObjectName(QStringLiteral("CheckExact"));
    CheckExact->setToolTip(QStringLiteral("A picture that already has the texture's size is not resampled, and over a "
                                          "256-colour palette one of at most 256 colours keeps exactly its colours"));
    connect(CheckExact, &QCheckBox::toggled, this, [this](bool exact) {
        if (OnExactChanged)
            OnExactChanged(exact);
    });
    BtnAlpha = new QToolButton(this);
    BtnAlpha->setObjectName(QStringLiteral("BtnAlpha"));
    BtnAlpha->setText(QStringLiteral("Alpha"));
    BtnAlpha->setIcon(AlphaIcon());
    BtnAlpha->setToolButtonStyle(Qt::ToolButtonIconOnly);
    BtnAlpha->setAutoRaise(true);
    BtnAlpha->setCheckable(true);
    BtnAlpha->setToolTip(QStringLiteral("Alpha: show the picture's alpha over a checkerboard"));
    connect(BtnAlpha, &QToolButton::toggled, this, [this](bool show) { ImageScrollBox->SetShowAlpha(show); });
    BtnAlpha->setChecked(false);
    LabelTarget = new QLabel(this);
    LabelTarget->setObjectName(QStringLiteral("LabelTarget"));
    LabelTarget->setTextFormat(Qt::PlainText);
    for (QWidget* w : std::initializer_list<QWidget*>{CheckExact, BtnAlpha})
        w->setFocusPolicy(Qt::TabFocus);

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

void TFormImage::SetTarget(const QString& text)
{
    target_ = text;
    LabelTarget->setToolTip(text);
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

    // The line above the buttons: the check box, then the target as far as it goes.
    const int lineTop = h - kBandHeight;
    const int exactWidth = CheckExact->sizeHint().width();
    CheckExact->setGeometry(kLineMargin, lineTop, exactWidth, kLineHeight);
    const int labelLeft = kLineMargin + exactWidth + 2 * kLineMargin;
    const int labelWidth = std::max(0, w - kLineMargin - labelLeft);
    LabelTarget->setGeometry(labelLeft, lineTop, labelWidth, kLineHeight);
    LabelTarget->setText(LabelTarget->fontMetrics().elidedText(target_, Qt::ElideRight, labelWidth));
    // "Alpha" in the middle of the gap between the buttons.
    const int gapLeft = Button1->geometry().right() + 1;
    const int gap = Button2->geometry().left() - gapLeft;
    const int alphaWidth = std::min(gap, kButtonHeight);
    BtnAlpha->setGeometry(gapLeft + (gap - alphaWidth) / 2, top, alphaWidth, kButtonHeight);
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
