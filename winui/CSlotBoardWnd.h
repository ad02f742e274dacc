#pragma once
// The bench's board as a native child window: one tile per slot, laid out by
// LayOutBoard and drawn (double-buffered, GDI) with the words, symbols and colours
// of BenchTile.h. Its window text is every tile's word, one line each, for screen
// readers and tests. Every method runs on the window's thread.

#include "windowmodel/BenchTile.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace fwup {

class CSlotBoardWnd {
public:
    CSlotBoardWnd() = default;
    ~CSlotBoardWnd(); // destroys the window if it is still there
    CSlotBoardWnd(const CSlotBoardWnd&) = delete;
    CSlotBoardWnd& operator=(const CSlotBoardWnd&) = delete;

    // Creates the window as hParent's child nId over rc (client coordinates), hidden.
    bool Create(HINSTANCE hInstance, HWND hParent, int nId, const RECT& rc);
    HWND Handle() const { return m_hWnd; }

    void AddTile();
    void SetTile(int nRow, const BenchTile& tile);
    void SetScale(int nPercent);
    // The tile's place in the window's client area; empty when it has no room.
    RECT TileRect(int nRow) const;

private:
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
    void Paint(HDC hDc, const RECT& rcClient) const;
    void UpdateText(); // the tiles' words as the window's text

    HWND m_hWnd = nullptr;
    std::vector<BenchTile> m_tiles;
    int m_nScalePercent = 100;
    mutable std::optional<BoardLayout> m_layout; // for m_layoutSize; none: to be laid out
    mutable SIZE m_layoutSize = {};
};

} // namespace fwup
