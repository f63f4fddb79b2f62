// SPDX-License-Identifier: GPL-3.0-or-later
// What the JPEG files' checking, decoding and encoding share of the JPEG library: errors that
// leave through setjmp/longjmp, with the library's message kept.
#pragma once

#include <csetjmp>
#include <cstdio>

extern "C" {
#include <jpeglib.h>
}

namespace imaging {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf* jump;  // where an error goes: one place for a reader and a writer together
    bool warningsAreErrors;
    char message[JMSG_LENGTH_MAX];
};

// Sets up the error manager: errors jump to *jump; warningsAreErrors: so do warnings that
// concern the picture data (a damaged file decodes to something else).
void setUp(ErrorManager* err, std::jmp_buf* jump, bool warningsAreErrors);

// The most memory the library may take for one picture.
constexpr long jpegMemoryLimit = 512L * 1024 * 1024;

}  // namespace imaging
