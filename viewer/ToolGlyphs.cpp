#include "ToolGlyphs.h"

#include "ControlIds.h"

namespace {

// A glyph is drawn on a 16 by 16 grid centred in the button.
struct Pen {
    HDC dc;
    int x0, y0;
    bool enabled;

    COLORREF Tone(COLORREF colour) const { return enabled ? colour : GetSysColor(COLOR_GRAYTEXT); }

    void Box(int left, int top, int right, int bottom, COLORREF fill, COLORREF edge) const
    {
        HBRUSH brush = CreateSolidBrush(Tone(fill));
        HPEN pen = CreatePen(PS_SOLID, 1, Tone(edge));
        HGDIOBJ oldBrush = SelectObject(dc, brush), oldPen = SelectObject(dc, pen);
        Rectangle(dc, x0 + left, y0 + top, x0 + right, y0 + bottom);
        SelectObject(dc, oldBrush);
        SelectObject(dc, oldPen);
        DeleteObject(brush);
        DeleteObject(pen);
    }

    void Polygon(const POINT* points, int count, COLORREF fill, COLORREF edge) const
    {
        POINT moved[8];
        for (int i = 0; i < count; i++)
            moved[i] = {x0 + points[i].x, y0 + points[i].y};
        HBRUSH brush = CreateSolidBrush(Tone(fill));
        HPEN pen = CreatePen(PS_SOLID, 1, Tone(edge));
        HGDIOBJ oldBrush = SelectObject(dc, brush), oldPen = SelectObject(dc, pen);
        ::Polygon(dc, moved, count);
        SelectObject(dc, oldBrush);
        SelectObject(dc, oldPen);
        DeleteObject(brush);
        DeleteObject(pen);
    }

    void Ring(int left, int top, int right, int bottom, COLORREF edge) const
    {
        HPEN pen = CreatePen(PS_SOLID, 1, Tone(edge));
        HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(HOLLOW_BRUSH)), oldPen = SelectObject(dc, pen);
        Ellipse(dc, x0 + left, y0 + top, x0 + right, y0 + bottom);
        SelectObject(dc, oldBrush);
        SelectObject(dc, oldPen);
        DeleteObject(pen);
    }

    void Line(int x1, int y1, int x2, int y2, COLORREF colour) const
    {
        HPEN pen = CreatePen(PS_SOLID, 1, Tone(colour));
        HGDIOBJ oldPen = SelectObject(dc, pen);
        MoveToEx(dc, x0 + x1, y0 + y1, nullptr);
        LineTo(dc, x0 + x2, y0 + y2);
        SelectObject(dc, oldPen);
        DeleteObject(pen);
    }
};

const COLORREF Black = RGB(0, 0, 0);
const COLORREF White = RGB(255, 255, 255);
const COLORREF Navy = RGB(0, 0, 128);

void DrawScissors(const Pen& pen)
{
    pen.Line(4, 1, 10, 10, Navy);
    pen.Line(11, 1, 5, 10, Navy);
    pen.Ring(1, 9, 7, 15, Black);
    pen.Ring(8, 9, 14, 15, Black);
}

void DrawPages(const Pen& pen)
{
    pen.Box(1, 1, 9, 11, White, Black);
    pen.Line(3, 4, 7, 4, Navy);
    pen.Line(3, 6, 7, 6, Navy);
    pen.Box(6, 5, 15, 15, White, Black);
    pen.Line(8, 8, 13, 8, Navy);
    pen.Line(8, 10, 13, 10, Navy);
    pen.Line(8, 12, 13, 12, Navy);
}

void DrawClipboard(const Pen& pen)
{
    pen.Box(1, 2, 12, 15, RGB(192, 128, 64), RGB(96, 64, 32));
    pen.Box(4, 1, 9, 4, RGB(160, 160, 160), Black);
    pen.Box(6, 6, 15, 15, White, Black);
    pen.Line(8, 9, 13, 9, Navy);
    pen.Line(8, 11, 13, 11, Navy);
}

void DrawStart(const Pen& pen)
{
    const POINT triangle[] = {{4, 2}, {13, 8}, {4, 14}};
    pen.Polygon(triangle, 3, RGB(0, 160, 0), RGB(0, 96, 0));
}

void DrawStop(const Pen& pen)
{
    pen.Box(3, 3, 13, 13, RGB(208, 0, 0), RGB(128, 0, 0));
}

void DrawPause(const Pen& pen)
{
    pen.Box(3, 3, 7, 13, RGB(0, 64, 192), Navy);
    pen.Box(9, 3, 13, 13, RGB(0, 64, 192), Navy);
}

struct GlyphRow {
    UINT id;
    void (*draw)(const Pen&);
};

const GlyphRow Glyphs[] = {
    {Id::SpeedButtonCut, DrawScissors}, {Id::SpeedButtonCopy, DrawPages},
    {Id::SpeedButtonPaste, DrawClipboard}, {Id::SpeedButtonStart, DrawStart},
    {Id::SpeedButtonStop, DrawStop}, {Id::SpeedButtonPause, DrawPause},
};

// The icon: a kestrel's wing over a stream of data rows, on a 32-unit grid scaled to size.
void DrawIconPicture(HDC dc, int size)
{
    RECT all = {0, 0, size, size};
    HBRUSH sky = CreateSolidBrush(RGB(0, 64, 128));
    FillRect(dc, &all, sky);
    DeleteObject(sky);
    HBRUSH row = CreateSolidBrush(RGB(200, 230, 255));
    for (int i = 0; i < 3; i++) {
        RECT line = {size * 4 / 32, size * (20 + 4 * i) / 32, size * (28 - 6 * i) / 32, size * (22 + 4 * i) / 32};
        FillRect(dc, &line, row);
    }
    DeleteObject(row);
    POINT wing[] = {{size * 3 / 32, size * 15 / 32}, {size * 16 / 32, size * 4 / 32},
                    {size * 29 / 32, size * 8 / 32}, {size * 18 / 32, size * 11 / 32},
                    {size * 12 / 32, size * 16 / 32}};
    HBRUSH feather = CreateSolidBrush(RGB(224, 128, 32));
    HGDIOBJ oldBrush = SelectObject(dc, feather);
    HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
    Polygon(dc, wing, 5);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(feather);
}

}  // namespace

void DrawToolGlyph(HDC dc, const RECT& area, UINT buttonId, bool enabled)
{
    Pen pen = {dc, (area.left + area.right - 16) / 2, (area.top + area.bottom - 16) / 2, enabled};
    for (const GlyphRow& glyph : Glyphs)
        if (glyph.id == buttonId)
            glyph.draw(pen);
}

HICON CreateKestrixIcon(int size)
{
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP colour = CreateCompatibleBitmap(screen, size, size);
    HBITMAP mask = CreateBitmap(size, size, 1, 1, nullptr);
    HGDIOBJ old = SelectObject(dc, mask);
    RECT all = {0, 0, size, size};
    FillRect(dc, &all, HBRUSH(GetStockObject(BLACK_BRUSH)));   // opaque everywhere
    SelectObject(dc, colour);
    DrawIconPicture(dc, size);
    SelectObject(dc, old);
    ICONINFO info = {TRUE, 0, 0, mask, colour};
    HICON icon = CreateIconIndirect(&info);
    DeleteObject(colour);
    DeleteObject(mask);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return icon;
}
