// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/batch_dialogs.h"

#include "app/error_box.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

QLabel* textLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

QDialogButtonBox* okCancel(QDialog* dialog)
{
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    return buttons;
}

}  // namespace

ExportAllBox::ExportAllBox(const QString& text, const ExportAllChoices& initial, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QString::fromUtf8(kApplicationTitle));
    setModal(true);
    LabelText = textLabel(text, this);
    RadioTga = new QRadioButton(QStringLiteral("TGA"), this);
    RadioTga->setObjectName(QStringLiteral("RadioTga"));
    RadioTga->setToolTip(QStringLiteral("The files \"Save as TGA\" writes"));
    RadioPng = new QRadioButton(QStringLiteral("PNG"), this);
    RadioPng->setObjectName(QStringLiteral("RadioPng"));
    RadioPng->setToolTip(QStringLiteral("The same pixels as PNG files, alpha kept"));
    (initial.png ? RadioPng : RadioTga)->setChecked(true);

    auto* formats = new QHBoxLayout;
    formats->addWidget(new QLabel(QStringLiteral("Format:"), this));
    formats->addWidget(RadioTga);
    formats->addWidget(RadioPng);
    formats->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(LabelText);
    layout->addLayout(formats);
    layout->addWidget(okCancel(this));
    setMinimumWidth(360);
}

ExportAllChoices ExportAllBox::choices() const
{
    ExportAllChoices out;
    out.png = RadioPng->isChecked();
    return out;
}

ImportFolderBox::ImportFolderBox(const QString& text, const ImportFolderChoices& initial, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QString::fromUtf8(kApplicationTitle));
    setModal(true);
    LabelText = textLabel(text, this);
    CheckExact = new QCheckBox(QStringLiteral("Keep pixels exactly"), this);
    CheckExact->setObjectName(QStringLiteral("CheckExact"));
    CheckExact->setToolTip(QStringLiteral("A picture that already has its texture's size is not resampled, and over "
                                          "an 8-bit paletted texture a picture of at most 256 colours keeps exactly "
                                          "its colours"));
    CheckExact->setChecked(initial.exact);
    CheckPictureSize = new QCheckBox(QStringLiteral("Pictures at their own size"), this);
    CheckPictureSize->setObjectName(QStringLiteral("CheckPictureSize"));
    CheckPictureSize->setToolTip(QStringLiteral("A picture of another size than its texture's makes the texture again "
                                                "at the picture's size, in its layout, with every mip level where it "
                                                "had levels (textures of sectioned dictionaries only)"));
    CheckPictureSize->setChecked(initial.pictureSize);
    ComboDxt = new QComboBox(this);
    ComboDxt->setObjectName(QStringLiteral("ComboDxt"));
    ComboDxt->addItems({QStringLiteral("Fast"), QStringLiteral("Best")});
    ComboDxt->setToolTip(QStringLiteral("Fast: the quick block encoder; Best: slower, a little closer in most "
                                        "pictures"));
    ComboDxt->setCurrentIndex(initial.bestDxt ? 1 : 0);

    auto* dxt = new QHBoxLayout;
    dxt->addWidget(new QLabel(QStringLiteral("DXT quality"), this));
    dxt->addWidget(ComboDxt);
    dxt->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(LabelText);
    layout->addWidget(CheckExact);
    layout->addWidget(CheckPictureSize);
    layout->addLayout(dxt);
    layout->addWidget(okCancel(this));
    setMinimumWidth(360);
}

ImportFolderChoices ImportFolderBox::choices() const
{
    ImportFolderChoices out;
    out.exact = CheckExact->isChecked();
    out.pictureSize = CheckPictureSize->isChecked();
    out.bestDxt = ComboDxt->currentIndex() == 1;
    return out;
}
