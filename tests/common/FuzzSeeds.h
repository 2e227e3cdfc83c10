#pragma once

#include <QByteArray>

// While CULVANE_FUZZ_SEEDS names a folder, the inputs tests hand to the low-level readers are also kept
// there (one file per distinct input, in a subfolder per format), so that the fuzzers start from them.
namespace FuzzSeeds {
void keep(const char* format, const QByteArray& input);
}
