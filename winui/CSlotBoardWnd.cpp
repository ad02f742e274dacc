#include "winui/CSlotBoardWnd.h"

#include "serial/WideText.h"

#include <algorithm>
#include <cmath>

namespace fwup {

namespace {

constexpr wchar_t kClassName[] = L"FwupSlotBoard";

COLORREF ColourRef(uint32_t dwRgb) {
    return RGB((dwRgb >> 16) & 0xFF, (dwRgb >> 8) & 0xFF, dwRgb & 0xFF);
}

// A GDI object deleted when it goes.
template <class T> class CGdi {
public:
    explicit CGdi(T h) : m_h(h) {}
    ~CGdi() {
        if (m_h != nullptr) {
            ::DeleteObject(m_h);
        }
    }
    CGdi(const CGdi&) = delete;
    CGdi& operator=(const CGdi&) = delete;
    T Get() const { return m_h; }

private:
    T m_h;
};

// A font of nPx pixels in the dialog's face, smaller until strText fits nRoom pixels.
HFONT FittedFont(HDC hDc, const wchar_t* pszFace, int nPx, bool bBold, const std::wstring& strText,
                 int nRoom) {
    for (;; --nPx) {
        HFONT hFont = ::CreateFontW(-std::max(6, nPx), 0, 0, 0, bBold ? FW_BOLD : FW_NORMAL, FALSE,
                                    FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                    CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, pszFace);
        if (nPx <= 6 || hFont == nullptr) {
            return hFont;
        }
        const HGDIOBJ hOld = ::SelectObject(hDc, hFont);
        SIZE size = {};
        ::GetTextExtentPoint32W(hDc, strText.c_str(), static_cast<int>(strText.size()), &size);
        ::SelectObject(hDc, hOld);
        if (size.cx <= nRoom) {
            return hFont;
        }
        ::DeleteObject(hFont);
    }
}

void DrawLine(HDC hDc, const wchar_t* pszFace, int nPx, bool bBold, const std::wstring& strText,
              RECT rc, UINT nFormat) {
    CGdi<HFONT> font(FittedFont(hDc, pszFace, nPx, bBold, strText, rc.right - rc.left));
    const HGDIOBJ hOld = ::SelectObject(hDc, font.Get());
    ::DrawTextW(hDc, strText.c_str(), static_cast<int>(strText.size()), &rc,
                nFormat | DT_SINGLELINE | DT_NOPREFIX | DT_LEFT);
    ::SelectObject(hDc, hOld);
}

// The symbol in the square rc, in colour: shapes, not glyphs, so no font need hold them.
void DrawSymbol(HDC hDc, BenchSymbol eSymbol, const RECT& rc, COLORREF colour) {
    const int w = rc.right - rc.left;
    const auto at = [&](double x, double y) {
        return POINT{rc.left + static_cast<LONG>(std::lround(x * w)),
                     rc.top + static_cast<LONG>(std::lround(y * w))};
    };
    LOGBRUSH brush = {BS_SOLID, colour, 0};
    CGdi<HPEN> pen(::ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_ROUND | PS_JOIN_ROUND,
                                  static_cast<DWORD>(std::max(2, w / 9)), &brush, 0, nullptr));
    CGdi<HBRUSH> fill(::CreateSolidBrush(colour));
    const HGDIOBJ hOldPen = ::SelectObject(hDc, pen.Get());
    const HGDIOBJ hOldBrush = ::SelectObject(hDc, ::GetStockObject(NULL_BRUSH));
    switch (eSymbol) {
    case BenchSymbol::Circle: {
        const POINT a = at(0.15, 0.15), b = at(0.85, 0.85);
        ::Ellipse(hDc, a.x, a.y, b.x, b.y);
        break;
    }
    case BenchSymbol::Play: {
        const POINT points[] = {at(0.25, 0.15), at(0.85, 0.5), at(0.25, 0.85)};
        ::SelectObject(hDc, fill.Get());
        ::Polygon(hDc, points, 3);
        break;
    }
    case BenchSymbol::Retry: {
        const POINT a = at(0.15, 0.15), b = at(0.85, 0.85);
        const POINT from = at(0.75, 0.2), to = at(0.85, 0.5);
        ::Arc(hDc, a.x, a.y, b.x, b.y, to.x, to.y, from.x, from.y);
        const POINT head[] = {at(0.62, 0.05), at(0.85, 0.2), at(0.6, 0.33)};
        ::SelectObject(hDc, fill.Get());
        ::Polygon(hDc, head, 3);
        break;
    }
    case BenchSymbol::Check: {
        const POINT points[] = {at(0.12, 0.52), at(0.4, 0.8), at(0.9, 0.2)};
        ::Polyline(hDc, points, 3);
        break;
    }
    case BenchSymbol::Cross: {
        const POINT one[] = {at(0.18, 0.18), at(0.82, 0.82)};
        const POINT two[] = {at(0.82, 0.18), at(0.18, 0.82)};
        ::Polyline(hDc, one, 2);
        ::Polyline(hDc, two, 2);
        break;
    }
    case BenchSymbol::Warning: {
        const POINT points[] = {at(0.5, 0.08), at(0.95, 0.9), at(0.05, 0.9)};
        ::Polygon(hDc, points, 3);
        const POINT bar[] = {at(0.5, 0.35), at(0.5, 0.6)};
        ::Polyline(hDc, bar, 2);
        const POINT dot[] = {at(0.5, 0.75), at(0.5, 0.76)};
        ::Polyline(hDc, dot, 2);
        break;
    }
    case BenchSymbol::Square: {
        const POINT a = at(0.2, 0.2), b = at(0.8, 0.8);
        const RECT rcSquare = {a.x, a.y, b.x, b.y};
        ::FillRect(hDc, &rcSquare, fill.Get());
        break;
    }
    }
    ::SelectObject(hDc, hOldBrush);
    ::SelectObject(hDc, hOldPen);
}

} // namespace

CSlotBoardWnd::~CSlotBoardWnd() {
    if (m_hWnd != nullptr && ::IsWindow(m_hWnd)) {
        ::DestroyWindow(m_hWnd);
    }
}

bool CSlotBoardWnd::Create(HINSTANCE hInstance, HWND hParent, int nId, const RECT& rc) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    if (!::GetClassInfoExW(hInstance, kClassName, &wc)) {
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = WindowProc;
        wc.hInstance = hInstance;
        wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        wc.lpszClassName = kClassName;
        if (::RegisterClassExW(&wc) == 0) {
            return false;
        }
    }
    m_hWnd = ::CreateWindowExW(0, kClassName, L"", WS_CHILD | WS_CLIPSIBLINGS, rc.left, rc.top,
                               rc.right - rc.left, rc.bottom - rc.top, hParent,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(nId)), hInstance, this);
    return m_hWnd != nullptr;
}

LRESULT CALLBACK CSlotBoardWnd::WindowProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    if (nMsg == WM_NCCREATE) {
        const auto* pCreate = reinterpret_cast<CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(hWnd, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(pCreate->lpCreateParams));
    }
    auto* pBoard = reinterpret_cast<CSlotBoardWnd*>(::GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    switch (nMsg) {
    case WM_ERASEBKGND:
        return 1; // painted whole, double-buffered
    case WM_SIZE:
        ::InvalidateRect(hWnd, nullptr, FALSE);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        const HDC hDc = ::BeginPaint(hWnd, &ps);
        RECT rcClient;
        ::GetClientRect(hWnd, &rcClient);
        if (pBoard != nullptr && rcClient.right > 0 && rcClient.bottom > 0) {
            // Drawn off screen, then copied: no flicker at a tick's repaint.
            const HDC hMem = ::CreateCompatibleDC(hDc);
            CGdi<HBITMAP> bitmap(::CreateCompatibleBitmap(hDc, rcClient.right, rcClient.bottom));
            const HGDIOBJ hOld = ::SelectObject(hMem, bitmap.Get());
            pBoard->Paint(hMem, rcClient);
            ::BitBlt(hDc, ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right - ps.rcPaint.left,
                     ps.rcPaint.bottom - ps.rcPaint.top, hMem, ps.rcPaint.left, ps.rcPaint.top,
                     SRCCOPY);
            ::SelectObject(hMem, hOld);
            ::DeleteDC(hMem);
        }
        ::EndPaint(hWnd, &ps);
        return 0;
    }
    case WM_NCDESTROY:
        if (pBoard != nullptr) {
            pBoard->m_hWnd = nullptr;
        }
        break;
    default:
        break;
    }
    return ::DefWindowProcW(hWnd, nMsg, wParam, lParam);
}

void CSlotBoardWnd::AddTile() {
    m_tiles.emplace_back();
    m_layout.reset();
    UpdateText();
    ::InvalidateRect(m_hWnd, nullptr, FALSE); // the grid may change
}

void CSlotBoardWnd::SetTile(int nRow, const BenchTile& tile) {
    if (nRow < 0 || static_cast<size_t>(nRow) >= m_tiles.size()) {
        return;
    }
    const BenchTile& shown = m_tiles[static_cast<size_t>(nRow)];
    const bool bTextChanged = TileWord(shown) != TileWord(tile) || shown.strSlot != tile.strSlot;
    m_tiles[static_cast<size_t>(nRow)] = tile;
    if (bTextChanged) {
        UpdateText();
    }
    const RECT rc = TileRect(nRow);
    ::InvalidateRect(m_hWnd, &rc, FALSE); // only the tile
}

void CSlotBoardWnd::SetScale(int nPercent) {
    m_nScalePercent = nPercent;
    m_layout.reset();
    ::InvalidateRect(m_hWnd, nullptr, FALSE);
}

RECT CSlotBoardWnd::TileRect(int nRow) const {
    RECT rcClient = {};
    ::GetClientRect(m_hWnd, &rcClient);
    if (!m_layout || m_layoutSize.cx != rcClient.right || m_layoutSize.cy != rcClient.bottom) {
        // Kept until the tiles, the size or the scale change: every tick asks it per tile.
        m_layout = LayOutBoard(static_cast<int>(m_tiles.size()), rcClient.right, rcClient.bottom,
                               m_nScalePercent);
        m_layoutSize = {rcClient.right, rcClient.bottom};
    }
    const BoardLayout& layout = *m_layout;
    if (layout.nColumns <= 0 || nRow < 0) {
        return RECT{};
    }
    const int nLeft = layout.nGap + nRow % layout.nColumns * (layout.nTileWidth + layout.nGap);
    const int nTop = layout.nGap + nRow / layout.nColumns * (layout.nTileHeight + layout.nGap);
    return RECT{nLeft, nTop, nLeft + layout.nTileWidth, nTop + layout.nTileHeight};
}

void CSlotBoardWnd::UpdateText() {
    std::string strText;
    for (const BenchTile& tile : m_tiles) {
        strText += tile.strSlot + ": " + TileWord(tile) + "\n";
    }
    ::SetWindowTextW(m_hWnd, WideFromUtf8(strText).c_str());
}

void CSlotBoardWnd::Paint(HDC hDc, const RECT& rcClient) const {
    ::FillRect(hDc, &rcClient, ::GetSysColorBrush(COLOR_WINDOW));
    // The dialog's own face, larger: the board reads as part of the window.
    LOGFONTW face = {};
    if (const HFONT hDialogFont =
            reinterpret_cast<HFONT>(::SendMessageW(::GetParent(m_hWnd), WM_GETFONT, 0, 0))) {
        ::GetObjectW(hDialogFont, sizeof face, &face);
    }
    ::SetBkMode(hDc, TRANSPARENT);
    for (size_t i = 0; i < m_tiles.size(); ++i) {
        const RECT rc = TileRect(static_cast<int>(i));
        if (rc.right <= rc.left) {
            continue;
        }
        const BenchTile& tile = m_tiles[i];
        const TileColours colours = SlotStateColours(tile.eState);
        const COLORREF text = ColourRef(colours.dwText);
        CGdi<HBRUSH> background(::CreateSolidBrush(ColourRef(colours.dwBackground)));
        const HGDIOBJ hOldBrush = ::SelectObject(hDc, background.Get());
        const HGDIOBJ hOldPen = ::SelectObject(hDc, ::GetStockObject(NULL_PEN));
        const int nRound = (rc.bottom - rc.top) / 5;
        ::RoundRect(hDc, rc.left, rc.top, rc.right + 1, rc.bottom + 1, nRound, nRound);
        ::SelectObject(hDc, hOldPen);
        ::SelectObject(hDc, hOldBrush);

        const TileMetrics metrics = MeasureTile(rc.right - rc.left, rc.bottom - rc.top);
        const int nSymbolTop = rc.top + (rc.bottom - rc.top - metrics.nSymbol) / 2;
        const RECT rcSymbol = {rc.left + metrics.nPad, nSymbolTop,
                               rc.left + metrics.nPad + metrics.nSymbol,
                               nSymbolTop + metrics.nSymbol};
        DrawSymbol(hDc, SlotStateSymbol(tile.eState), rcSymbol, text);
        ::SetTextColor(hDc, text);
        const LONG nTextLeft = rcSymbol.right + metrics.nPad;
        const LONG nTextRight = rc.right - metrics.nPad;
        DrawLine(hDc, face.lfFaceName, metrics.nLabelPx, true, WideFromUtf8(tile.strSlot),
                 RECT{nTextLeft, rc.top + metrics.nPad, nTextRight,
                      rc.top + metrics.nPad + metrics.nLabelPx * 3 / 2},
                 DT_VCENTER);
        DrawLine(hDc, face.lfFaceName, metrics.nWordPx, true, WideFromUtf8(TileWord(tile)),
                 RECT{nTextLeft, rc.top, nTextRight, rc.bottom}, DT_VCENTER);
        DrawLine(hDc, face.lfFaceName, metrics.nDetailPx, false, WideFromUtf8(TileDetail(tile)),
                 RECT{nTextLeft, rc.bottom - metrics.nPad - metrics.nDetailPx * 3 / 2, nTextRight,
                      rc.bottom - metrics.nPad},
                 DT_VCENTER);
    }
}

} // namespace fwup
