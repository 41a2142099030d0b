// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The small boxes that ask for the choices of "Export all..." and "Import
// folder..." after their folder is chosen: what is done where, the choices,
// OK and Cancel.
#include "platform/user_dialogs.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QRadioButton;

// "Export all": the picture files' format, TGA or PNG.
class ExportAllBox : public QDialog {
    Q_OBJECT
public:
    ExportAllBox(const QString& text, const ExportAllChoices& initial, QWidget* parent = nullptr);
    ExportAllChoices choices() const;

    QLabel* LabelText = nullptr;
    QRadioButton* RadioTga = nullptr;
    QRadioButton* RadioPng = nullptr;
};

// "Import folder": "Keep pixels exactly", "Pictures at their own size" and
// the DXT quality ("Fast" or "Best").
class ImportFolderBox : public QDialog {
    Q_OBJECT
public:
    ImportFolderBox(const QString& text, const ImportFolderChoices& initial, QWidget* parent = nullptr);
    ImportFolderChoices choices() const;

    QLabel* LabelText = nullptr;
    QCheckBox* CheckExact = nullptr;
    QCheckBox* CheckPictureSize = nullptr;
    QComboBox* ComboDxt = nullptr;
};
