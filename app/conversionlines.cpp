// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/conversionlines.h"

namespace pictolio {

int conversionLine(bool joined, ConversionJob::Step step) {
    using Step = ConversionJob::Step;
    // The output path's steps and the drawing's, each two lines after the one before.
    const int path = joined ? 174 : 126, draw = joined ? 220 : 158;
    switch (step) {
        case Step::CountRows: return joined ? 202 : 112;
        case Step::AskInFolder: return path;
        case Step::PathInFolder: return path + 2;
        case Step::AskBeside: return path + 4;
        case Step::PathBeside: return path + 6;
        case Step::CleanPath: return path + 8;
        case Step::WriteSettings: return joined ? 184 : 136;
        case Step::SelectPrinter: return joined ? 196 : 148;
        case Step::LoadPicture: return joined ? 216 : 154;
        case Step::PixelScale: return joined ? 218 : 156;
        case Step::AskOwnSize: return draw;
        case Step::DrawOwnSize: return draw + 2;
        case Step::AskStretch: return draw + 4;
        case Step::DrawStretched: return draw + 6;
        case Step::AskMoreRows: return 228;  // joined runs only, as the three below
        case Step::NewPage: return 230;
        case Step::EndDoc: return joined ? 234 : 166;
        case Step::WaitForPdf: return 236;
    }
    return 0;
}

int passLine(bool joined) { return joined ? 204 : 114; }

}  // namespace pictolio
