// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The licence notice that both programs print below their version line
// (`--version`); help2man copies it into the man pages.
inline constexpr const char* kLicenceNotice =
    "License GPL-2.0-or-later: GNU GPL version 2 or later <https://www.gnu.org/licenses/old-licenses/gpl-2.0.html>.\n"
    "This is free software: you are free to change and redistribute it.\n"
    "There is NO WARRANTY, to the extent permitted by law.\n";
