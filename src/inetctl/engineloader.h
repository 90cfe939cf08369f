#pragma once
#include "engines.h"

// The engines' module, opened at the first call (the first Connect of
// either control) and kept for the life of the program. Looked for where it
// is installed relative to the program, then where the build put it; the
// environment variable ORVANTA_MAIL_ENGINES names the one file to use
// instead. Throws EOleException naming each place tried and why it failed
// when none holds a module of this build.
const EngineFactory &Engines();
