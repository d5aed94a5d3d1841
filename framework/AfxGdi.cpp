// The GDI half of the framework: temporary handle wrappers, window DCs, fonts and bitmaps.
#include "framework/AfxGdi.h"

#include <memory>
#include <unordered_map>

#include "framework/CWnd.h"

namespace afx_detail {
struct TempGdiObjects::Maps {
    std::unordered_map<HGDIOBJ, std::unique_ptr<CGdiObject>> objects;
    std::unordered_map<HDC, std::unique_ptr<CDC>> dcs;
};
TempGdiObjects::TempGdiObjects() : m_pMaps(new Maps) {}
TempGdiObjects::~TempGdiObjects() {
    Release();
    delete m_pMaps;
}
void TempGdiObjects::Release() {
    for (auto& g : m_pMaps->objects) g.second->Detach();
    m_pMaps->objects.clear();
    for (auto& d : m_pMaps->dcs) d.second->Detach();
    m_pMaps->dcs.clear();
}
void DeleteTempGdiObjects() { ThreadGdiTemps().Release(); }
}  // namespace afx_detail

namespace {
afx_detail::TempGdiObjects::Maps& Temps() { return *afx_detail::ThreadGdiTemps().m_pMaps; }
}  // namespace

CGdiObject* CGdiObject::FromHandle(HGDIOBJ h) {
    if (!h) return nullptr;
    auto& slot = Temps().objects[h];
    if (!slot) {
        slot.reset(new CGdiObject);
        slot->m_hObject = h;
    }
    return slot.get();
}

CDC* CDC::FromHandle(HDC dc) {
    if (!dc) return nullptr;
    auto& slot = Temps().dcs[dc];
    if (!slot) {
        slot.reset(new CDC);
        slot->Attach(dc);
    }
    return slot.get();
}

CPaintDC::CPaintDC(CWnd* wnd) : m_hWnd(wnd->m_hWnd) { Attach(::BeginPaint(m_hWnd, &m_ps)); }
CPaintDC::~CPaintDC() {
    ::EndPaint(m_hWnd, &m_ps);
    Detach();
}
CClientDC::CClientDC(CWnd* wnd) : m_hWnd(wnd ? wnd->m_hWnd : nullptr) { Attach(::GetDC(m_hWnd)); }
CClientDC::~CClientDC() { ::ReleaseDC(m_hWnd, Detach()); }
CWindowDC::CWindowDC(CWnd* wnd) : m_hWnd(wnd ? wnd->m_hWnd : nullptr) { Attach(::GetWindowDC(m_hWnd)); }
CWindowDC::~CWindowDC() { ::ReleaseDC(m_hWnd, Detach()); }

BOOL CFont::CreatePointFont(int pointTenths, LPCWSTR face, HDC dc) {
    HDC screen = dc ? dc : ::GetDC(nullptr);
    LOGFONTW lf{};
    lf.lfHeight = -MulDiv(pointTenths, ::GetDeviceCaps(screen, LOGPIXELSY), 720);
    lf.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(lf.lfFaceName, face, LF_FACESIZE);
    if (!dc) ::ReleaseDC(nullptr, screen);
    return CreateFontIndirect(&lf);
}

BOOL CBitmap::LoadBitmap(UINT id) {
    LPCWSTR name = MAKEINTRESOURCEW(id);
    return Attach(::LoadBitmapW(AfxFindResourceHandle(name, RT_BITMAP), name));
}
