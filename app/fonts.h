// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 The SBUS Channel developers
#pragma once

// The form asks for the Windows faces 宋体 and 仿宋. Where they are not
// installed, Qt would fall back to a sans face whose Latin letters are much
// wider, and the English captions would no longer fit their fixed rectangles.
// This names Song faces of the other platforms as stand-ins; an installed
// 宋体/仿宋 still wins. Call once, after the application object exists.
void installFontSubstitutes();

// The form mixes fixed pixel geometry with point-size fonts; without
// scaling, captions outgrow their rectangles on 150 % and 200 % displays.
// Qt 6 always scales; Qt 5 has to be asked. Call before the application
// object exists.
void enableDisplayScaling();
