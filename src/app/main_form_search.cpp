// SPDX-License-Identifier: GPL-2.0-or-later
// TForm1's Find and Replace: the F3, F4 and F5 keys and their two handlers.
// The scans themselves are in search/find_replace; the texts typed in the
// boxes are Unicode, the entry table's are Windows-1250 bytes.
#include "app/main_form.h"

#include "app/error_box.h"
#include "platform/text.h"
#include "search/find_replace.h"

#include <QString>

namespace {
// Characters the code page does not hold become "?", as the table would store them.
std::string cp1250FromUtf8(const std::string& utf8)
{
    return toCp1250(QString::fromStdString(utf8));
}
}  // namespace

void TForm1::FormKeyDown(int key, Qt::KeyboardModifiers /*shift*/)
{
    // Shift, Ctrl and Alt make no difference; the key goes on to the
    // focused control afterwards.
    switch (key) {
    case Qt::Key_F3:
        // Asks while there is nothing to search again for.
        BtnFindClick(SearchText.empty() ? this : nullptr);
        break;
    case Qt::Key_F4: BtnFindClick(this); break;
    case Qt::Key_F5: BtnReplaceClick(nullptr); break;
    default: break;
    }
}

void TForm1::BtnFindClick(QObject* sender)
{
    Grid->setFocus();
    if (RxM->IsEmpty())
        return;
    if (sender) {
        // Cancel keeps the previous text, and still searches for it.
        if (const std::optional<std::string> typed = dialogs().findInputBox(cp1250ToUtf8(SearchText)))
            SearchText = cp1250FromUtf8(*typed);
    }
    if (SearchText.empty())
        return;
    findNextRow(*RxM, SearchText);
}

void TForm1::BtnReplaceClick(QObject* /*sender*/)
{
    Grid->setFocus();
    if (RxM->IsEmpty())
        return;
    const std::optional<ReplaceRequest> request = dialogs().replaceDialog();
    if (!request)
        return;
    const ReplaceFlags flags = request->caseSensitive ? rfReplaceAll : rfReplaceAll | rfIgnoreCase;
    const int changed =
        replaceInRows(*RxM, cp1250FromUtf8(request->textToFind), cp1250FromUtf8(request->replacement), flags);
    dialogs().messageBox(kApplicationTitle, "Replaced in " + std::to_string(changed) + " strings");
}
