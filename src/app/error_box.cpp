// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/error_box.h"

#include "platform/environment.h"
#include "platform/exceptions.h"
#include "platform/user_dialogs.h"

#include <exception>
#include <new>

namespace {
void showError(UserDialogs& dialogs, const std::string& message)
{
    setBusyCursor(false);
    try {
        dialogs.errorBox(kApplicationTitle, errorBoxText(message));
    } catch (...) {
        // A box that cannot be shown has nobody to tell; the program goes on.
    }
}
}  // namespace

void runGuarded(UserDialogs& dialogs, const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const Exception& e) {
        showError(dialogs, e.message());
    } catch (const std::bad_alloc&) {
        showError(dialogs, "Out of memory");
    } catch (const std::exception& e) {
        showError(dialogs, e.what());
    }
}
