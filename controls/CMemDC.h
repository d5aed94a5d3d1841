// An off-screen DC over another DC: drawing goes into a compatible bitmap of the rectangle
// (default: the DC's clip box), copied back in one blit when the object goes out of scope.
#pragma once

#include "framework/AfxGdi.h"

class CMemDC : public CDC {
public:
    explicit CMemDC(CDC* dc, const CRect* rect = nullptr, BOOL copyFirst = FALSE);
    ~CMemDC() override;
    CMemDC(const CMemDC&) = delete;
    CMemDC& operator=(const CMemDC&) = delete;

    const CRect& GetRect() const { return m_rect; }
    bool IsMemDC() const { return m_bMemDC; }

private:
    CBitmap m_bitmap;
    HGDIOBJ m_hOldBitmap = nullptr;
    CDC* m_pDC;
    CRect m_rect;
    bool m_bMemDC;
};
