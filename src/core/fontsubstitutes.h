#pragma once

// The forms name the fonts they were designed with (Lucida Sans Unicode,
// Calibri, Trebuchet). Where those are missing, the closest free fonts take
// their place, chosen for similar widths so that no text is clipped.
void installFontSubstitutes();
