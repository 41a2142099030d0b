// SPDX-License-Identifier: GPL-2.0-or-later
// Compiles the test programs' precompiled headers once for all of them; it
// holds no code of its own.
