// SPDX-License-Identifier: GPL-2.0-or-later
#include "texture/ui/form_image.h"

#include "imaging/picture_registry.h"
#include "imaging/ui/alpha_icon.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QToolButton>
#include <QVBoxLayout>

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

// The size choices, in the order of ComboSize.
constexpr int kSizeTexture = 0, kSizePicture = 1, kSizeTyped = 2;

QString sizeText(QSize size)
{
    return size.isValid() ? QStringLiteral("%1x%2").arg(size.width()).arg(size.height()) : QStringLiteral("?");
}
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
        if (choicesShown_)
            choiceChanged();
        else if (OnExactChanged)
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

    buildChoices();
    resize(kDesignClientWidth, kDesignClientHeight);
    layoutControls();
    FormCreate();
}

void TFormImage::buildChoices()
{
    PanelChoices = new QWidget(this);
    PanelChoices->setObjectName(QStringLiteral("PanelChoices"));
    auto* column = new QVBoxLayout(PanelChoices);
    column->setContentsMargins(6, 4, 6, 4);
    column->setSpacing(3);

    column->addWidget(new QLabel(QStringLiteral("Size"), PanelChoices));
    ComboSize = new QComboBox(PanelChoices);
    ComboSize->setObjectName(QStringLiteral("ComboSize"));
    ComboSize->addItems({QStringLiteral("Texture's"), QStringLiteral("Picture's"), QStringLiteral("Typed")});
    ComboSize->setToolTip(QStringLiteral("The texture's own size, the picture's own (not resampled), or a size typed "
                                         "below (the picture resampled to it)"));
    column->addWidget(ComboSize);
    auto* sizeRow = new QHBoxLayout;
    sizeRow->setSpacing(2);
    const auto side = [this](const char* name) {
        auto* spin = new QSpinBox(PanelChoices);
        spin->setObjectName(QString::fromUtf8(name));
        spin->setRange(1, kMaxTextureSide);
        // A typed number counts once it is entered, not at each digit.
        spin->setKeyboardTracking(false);
        return spin;
    };
    SpinWidth = side("SpinWidth");
    SpinHeight = side("SpinHeight");
    sizeRow->addWidget(SpinWidth, 1);
    sizeRow->addWidget(new QLabel(QStringLiteral("x"), PanelChoices));
    sizeRow->addWidget(SpinHeight, 1);
    column->addLayout(sizeRow);

    column->addWidget(new QLabel(QStringLiteral("Layout"), PanelChoices));
    ComboLayout = new QComboBox(PanelChoices);
    ComboLayout->setObjectName(QStringLiteral("ComboLayout"));
    for (const LayoutRow& row : kLayoutRows)
        if (row.format != TexelFormat::Unknown && row.plainKind == 0)
            ComboLayout->addItem(QString::fromUtf8(row.name), int(row.format));
    column->addWidget(ComboLayout);

    CheckLevels = new QCheckBox(QStringLiteral("Mip levels"), PanelChoices);
    CheckLevels->setObjectName(QStringLiteral("CheckLevels"));
    CheckLevels->setToolTip(QStringLiteral("On: every level down to 1 x 1 (the texture's own levels when its size and "
                                           "layout stay); off: one level"));
    column->addWidget(CheckLevels);

    column->addWidget(new QLabel(QStringLiteral("DXT quality"), PanelChoices));
    ComboDxt = new QComboBox(PanelChoices);
    ComboDxt->setObjectName(QStringLiteral("ComboDxt"));
    ComboDxt->addItems({QStringLiteral("Fast"), QStringLiteral("Best")});
    ComboDxt->setToolTip(QStringLiteral("Fast: the quick block encoder; Best: slower, a little closer in most "
                                        "pictures"));
    column->addWidget(ComboDxt);
    column->addStretch(1);

    LabelBytes = new QLabel(PanelChoices);
    LabelBytes->setObjectName(QStringLiteral("LabelBytes"));
    LabelBytes->setTextFormat(Qt::PlainText);
    LabelBytes->setWordWrap(true);
    column->addWidget(LabelBytes);

    for (QWidget* w : std::initializer_list<QWidget*>{ComboSize, SpinWidth, SpinHeight, ComboLayout, CheckLevels})
        w->setProperty("plainTip", w->toolTip());
    connect(ComboSize, &QComboBox::currentIndexChanged, this, [this] { choiceChanged(); });
    connect(SpinWidth, &QSpinBox::valueChanged, this, [this] { choiceChanged(); });
    connect(SpinHeight, &QSpinBox::valueChanged, this, [this] { choiceChanged(); });
    connect(ComboLayout, &QComboBox::currentIndexChanged, this, [this] { choiceChanged(); });
    connect(CheckLevels, &QCheckBox::toggled, this, [this] { choiceChanged(); });
    connect(ComboDxt, &QComboBox::currentIndexChanged, this, [this] { choiceChanged(); });
    PanelChoices->hide();
}

void TFormImage::ShowChoices(bool shown, QSize texture, QSize picture, uint32_t platform, const QString& whyNot)
{
    choicesShown_ = shown;
    choicesFixed_ = !whyNot.isEmpty();
    textureSize_ = texture;
    pictureSize_ = picture;
    {
        const QSignalBlocker quietSize(ComboSize);
        ComboSize->setItemText(kSizeTexture, QStringLiteral("Texture's ") + sizeText(texture));
        ComboSize->setItemText(kSizePicture, QStringLiteral("Picture's ") + sizeText(picture));
    }
    // Layouts the texture's header cannot hold are offered disabled.
    if (auto* model = qobject_cast<QStandardItemModel*>(ComboLayout->model()))
        for (int i = 0; i < ComboLayout->count(); ++i) {
            const auto format = TexelFormat(ComboLayout->itemData(i).toInt());
            bool holds = true;
            try {
                checkHeaderHolds(platform, format);
            } catch (const Exception&) {
                holds = false;
            }
            model->item(i)->setEnabled(holds);
        }
    const QString fixed =
        choicesFixed_ ? QStringLiteral("Only the texture's own size, layout and levels: ") + whyNot : QString();
    for (QWidget* w : std::initializer_list<QWidget*>{ComboSize, SpinWidth, SpinHeight, ComboLayout, CheckLevels})
        w->setProperty("fixedTip", fixed);
    PanelChoices->setToolTip(fixed);
    PanelChoices->setVisible(shown);
    updateChoiceControls();
    layoutControls();
}

SectionedImportChoice TFormImage::Choice() const
{
    SectionedImportChoice choice;
    switch (ComboSize->currentIndex()) {
    case kSizePicture: choice.size = SectionedImportChoice::Size::Picture; break;
    case kSizeTyped: choice.size = SectionedImportChoice::Size::Typed; break;
    default: choice.size = SectionedImportChoice::Size::Texture; break;
    }
    choice.typed = QSize(SpinWidth->value(), SpinHeight->value());
    choice.format = TexelFormat(ComboLayout->currentData().toInt());
    choice.levels = CheckLevels->isChecked();
    choice.dxt = ComboDxt->currentIndex() == 1 ? DxtQuality::Best : DxtQuality::Fast;
    choice.exact = CheckExact->isChecked();
    return choice;
}

void TFormImage::SetChoice(const SectionedImportChoice& choice)
{
    settingChoice_ = true;
    {
        const QSignalBlocker b1(ComboSize), b2(SpinWidth), b3(SpinHeight), b4(ComboLayout), b5(CheckLevels),
            b6(ComboDxt), b7(CheckExact);
        ComboSize->setCurrentIndex(choice.size == SectionedImportChoice::Size::Picture ? kSizePicture
                                   : choice.size == SectionedImportChoice::Size::Typed ? kSizeTyped
                                                                                       : kSizeTexture);
        if (choice.typed.isValid()) {
            SpinWidth->setValue(choice.typed.width());
            SpinHeight->setValue(choice.typed.height());
        }
        const int layout = ComboLayout->findData(int(choice.format));
        if (layout >= 0)
            ComboLayout->setCurrentIndex(layout);
        CheckLevels->setChecked(choice.levels);
        ComboDxt->setCurrentIndex(choice.dxt == DxtQuality::Best ? 1 : 0);
        CheckExact->setChecked(choice.exact);
    }
    settingChoice_ = false;
    updateChoiceControls();
}

void TFormImage::SetResult(QSize size, int64_t bytes, int64_t bytesNow)
{
    if (ComboSize->currentIndex() != kSizeTyped) {
        const QSignalBlocker b1(SpinWidth), b2(SpinHeight);
        SpinWidth->setValue(size.width());
        SpinHeight->setValue(size.height());
    }
    LabelBytes->setText(QStringLiteral("Writes %1 bytes of texture data (now %2)").arg(bytes).arg(bytesNow));
}

void TFormImage::choiceChanged()
{
    if (settingChoice_)
        return;
    updateChoiceControls();
    if (OnChoiceChanged)
        OnChoiceChanged();
}

void TFormImage::updateChoiceControls()
{
    const bool free = !choicesFixed_;
    ComboSize->setEnabled(free);
    SpinWidth->setEnabled(free && ComboSize->currentIndex() == kSizeTyped);
    SpinHeight->setEnabled(SpinWidth->isEnabled());
    ComboLayout->setEnabled(free);
    CheckLevels->setEnabled(free);
    ComboDxt->setEnabled(texelFormatIsCompressed(TexelFormat(ComboLayout->currentData().toInt())));
    for (QWidget* w : std::initializer_list<QWidget*>{ComboSize, SpinWidth, SpinHeight, ComboLayout, CheckLevels}) {
        const QString fixed = w->property("fixedTip").toString();
        w->setToolTip(fixed.isEmpty() ? w->property("plainTip").toString() : fixed);
    }
}

int TFormImage::previewWidth() const
{
    return std::max(0, width() - (choicesShown_ ? kChoicesWidth : 0));
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
    resize(w + (choicesShown_ ? kChoicesWidth : 0), h);
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
    const int w = previewWidth();
    const int h = height();
    if (PanelChoices)
        PanelChoices->setGeometry(w, 0, width() - w, h);
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
