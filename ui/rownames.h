// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

#include <array>

#include "link/paramexchange.h"

// The form's object names for each function's row, in the order of the
// functions in the parameter block. The window finds its widgets by these,
// and so does anything else that drives the form: one list, so that a row
// renamed in the form is renamed everywhere at once.
struct FunctionRowNames {
    const char *channel;     // the channel selector
    const char *position;    // the live position slider
    const char *testData;    // the test-data field
    const char *caption;     // the caption left of the selector
    const char *testCaption; // the caption left of the test-data field
};

inline constexpr std::array<FunctionRowNames, kFunctionCount> kFunctionRows{{
    {"tiltComboBox", "tiltSlider", "tiltLineEdit", "tiltLabel", "testTiltLabel"},
    {"headingComboBox", "headingSlider", "headingLineEdit", "headingLabel", "testheadingLabel"},
    {"modeComboBox", "modeSlider", "modeLineEdit", "modeLabel", "testModeLabel"},
    {"videoComboBox", "videoSlider", "videoLineEdit", "videoLabel", "testVideoLabel"},
    {"zoomComboBox", "zoomSlider", "zoomLineEdit", "zoomLabel", "testZoomLabel"},
}};
