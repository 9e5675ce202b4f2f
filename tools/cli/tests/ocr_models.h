// The command line's tests that recognise text run it with the neural recogniser's models where
// scripts/setup puts them, unless the environment names a folder already.
#pragma once

#include <stdlib.h>

namespace brevis::test {

[[maybe_unused]] inline const bool kOcrModelsNamed =
    ::setenv("BREVISFETCH_OCR_MODELS", BREVISFETCH_OCR_MODELS_DIR, 0) == 0;

}  // namespace brevis::test
