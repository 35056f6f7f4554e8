#pragma once

#include "settings/render_settings.h"

namespace quatdepth {

// The parameters alone: defaults first, then positions 1..22 of argv when
// at least 20 arguments are given (argc counts the program name).
// Positions past the last given argument keep their defaults. Leaves the
// derived fields as they were.
void parseArguments(const char *const *argv, int argc, RenderSettings *settings,
                    ViewAngles *angles);

// Fills every field: parseArguments, then deriveViewValues. `angles` may
// be null.
void initSettings(RenderSettings *settings, const char *const *argv, int argc,
                  ViewAngles *angles = nullptr);

}  // namespace quatdepth
