// The pictures the viewer draws itself: the tool button glyphs (in colour when enabled, grey
// when not) and the program's icon.
#pragma once
#include <windows.h>

void DrawToolGlyph(HDC dc, const RECT& area, UINT buttonId, bool enabled);

// The Kestrix icon at size by size pixels; the caller owns it.
HICON CreateKestrixIcon(int size);
