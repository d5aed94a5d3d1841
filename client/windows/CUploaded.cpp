#include "client/windows/CUploaded.h"

#include <shellapi.h>

#include <cstring>
#include <string>

#include "client/app/CAppSettings.h"
#include "client/app/Utf8.h"
#include "client/session/CLoginSession.h"
#include "client/transfer/CServerExchange.h"
#include "client/windows/CInputBox.h"
#include "client/windows/FitLabel.h"
#include "client/windows/UploadedText.h"

namespace {

const COLORREF kLine = RGB(220, 220, 220);

const wchar_t kCopyText[] = L"复制下载地址";
const wchar_t kRenameText[] = L"重命名";

CString Wide(const std::string& utf8) {
    CString out;
    Utf8ToWide(utf8.c_str(), out);
    return out;
}

// A shareable block holding `size` bytes of `data`, for the clipboard to own.
HGLOBAL GlobalCopy(const void* data, size_t size) {
    HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, size);
    if (!block) return nullptr;
    void* at = ::GlobalLock(block);
    if (!at) {
        ::GlobalFree(block);
        return nullptr;
    }
    std::memcpy(at, data, size);
    ::GlobalUnlock(block);
    return block;
}

void PutOnClipboard(UINT format, const void* data, size_t size) {
    HGLOBAL block = GlobalCopy(data, size);
    if (block && !::SetClipboardData(format, block)) ::GlobalFree(block);
}

}  // namespace

BEGIN_MESSAGE_MAP(CUploaded, CDialog)
    ON_WM_PAINT()
    ON_STN_CLICKED(IDC_COPY, &CUploaded::OnCopyLink)
    ON_STN_CLICKED(IDC_RENAME, &CUploaded::OnRename)
    ON_BN_CLICKED(IDC_SELECT, &CUploaded::OnCheckRow)
    ON_WM_CTLCOLOR()
END_MESSAGE_MAP()

CUploaded::CUploaded(CWnd* parent) : CDialog(IDD, parent) {
    m_lnkCopy.SetLinkStyle(kCopyText, FALSE, kLinkColour, kLinkColour, kLinkHover);
    m_lnkRename.SetLinkStyle(kRenameText, FALSE, kLinkColour, kLinkColour, kLinkHover);
}

CUploaded::~CUploaded() { ForgetIcon(); }

void CUploaded::ForgetIcon() {
    if (m_hIcon) ::DestroyIcon(m_hIcon);
    m_hIcon = nullptr;
    m_bIconLooked = false;
}

void CUploaded::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_NAME, m_stcName);
    DDX_Control(dx, IDC_FILE_SIZE, m_stcSize);
    DDX_Control(dx, IDC_COPY, m_lnkCopy);
    DDX_Control(dx, IDC_RENAME, m_lnkRename);
    DDX_Control(dx, IDC_SELECT, m_chkSelect);
    DDX_Control(dx, IDC_EXPIRY, m_stcExpiry);
}

void CUploaded::SetFileInfo(const protocol::FileEntry& file, const protocol::ServerInfo& server) {
    m_strServerHost = Wide(server.host);
    m_strLink = uploadedtext::DownloadLink(m_strServerHost.GetString(), Wide(file.linkKey).GetString()).c_str();
    m_strName = Wide(file.fileName);
    m_nSize = file.fileSize;
    m_nFileId = file.fileId;
    m_nHoursLeft = file.hoursLeft;
    ForgetIcon();
    if (!m_hWnd) return;
    m_stcName.SetWindowText(m_strName);
    m_stcExpiry.SetWindowText(uploadedtext::ExpiryText(m_nHoursLeft).c_str());
    m_stcSize.SetWindowText(uploadedtext::SizeText(m_nSize).c_str());
}

bool CUploaded::IsChecked() const { return m_chkSelect.m_hWnd && m_chkSelect.GetCheck() == BST_CHECKED; }

void CUploaded::SetChecked(bool checked) {
    if (m_chkSelect.m_hWnd) m_chkSelect.SetCheck(checked ? BST_CHECKED : BST_UNCHECKED);
}

bool CUploaded::CopyLinkToClipboard(const CString& text) {
    if (text.IsEmpty() || !::OpenClipboard(m_hWnd)) return false;
    ::EmptyClipboard();
    const std::string utf8 = WideToUtf8String(text);
    PutOnClipboard(CF_TEXT, utf8.c_str(), utf8.size() + 1);
    PutOnClipboard(CF_UNICODETEXT, text.GetString(), (static_cast<size_t>(text.GetLength()) + 1) * sizeof(wchar_t));
    ::CloseClipboard();
    return true;
}

void CUploaded::OnCopyLink() {
    m_lnkCopy.SetLinkStyle(kCopyText, FALSE, kLinkColour, kLinkColour, kLinkHover);
    CopyLinkToClipboard(m_strLink);
}

CUploaded::NameAsker& CUploaded::Renamer() {
    static NameAsker s_asker;
    return s_asker;
}

bool CUploaded::AskName(CString& renamed) {
    if (Renamer()) return Renamer()(m_strName, renamed);
    CInputBox box(this);
    box.SetInitialText(m_strName);
    if (box.DoModal() != IDOK) return false;
    renamed = box.m_strText;
    return true;
}

void CUploaded::OnRename() {
    m_lnkRename.SetLinkStyle(kRenameText, FALSE, kLinkColour, kLinkColour, kLinkHover);
    CString renamed;
    if (!AskName(renamed) || renamed.IsEmpty()) return;
    // The name field holds 255 bytes of UTF-8: the row shows the name as the server keeps it.
    std::string utf8 = WideToUtf8String(renamed);
    utf8.resize(text::Utf8FitLength(utf8.data(), utf8.size(), protocol::kLongField - 1));
    if (utf8.empty()) return;
    m_strName = Wide(utf8);
    m_stcName.SetWindowText(m_strName);
    ForgetIcon();
    Invalidate();
    CServerExchange exchange;
    if (exchange.ConnectToControl())
        exchange.Send(protocol::BuildRenameFile(g_LoginSession.m_nUserId, m_nFileId, utf8));
}

void CUploaded::OnCheckRow() {
    m_bChecked = IsChecked() ? TRUE : FALSE;
    CWnd* container = GetParent();
    CWnd* tab = container ? container->GetParent() : nullptr;
    if (tab) tab->SendMessage(WM_ROW_CHECK_CHANGED, static_cast<WPARAM>(m_bChecked), 0);
}

CUploaded::IconLookup& CUploaded::FileIconLookup() {
    static IconLookup lookup = [](const CString& name) -> HICON {
        SHFILEINFOW info = {};
        // By name only: the file need not exist here.
        if (!::SHGetFileInfoW(name, FILE_ATTRIBUTE_NORMAL, &info, sizeof info, SHGFI_ICON | SHGFI_USEFILEATTRIBUTES))
            return nullptr;
        return info.hIcon;
    };
    return lookup;
}

HICON CUploaded::FileIcon() {
    if (!m_bIconLooked) {
        m_bIconLooked = true;
        m_hIcon = FileIconLookup()(m_strName);
    }
    return m_hIcon;
}

void CUploaded::OnPaint() {
    CPaintDC dc(this);
    CRect r;
    GetClientRect(&r);
    CPen pen(PS_SOLID, 1, kLine);
    CPen* old = dc.SelectObject(&pen);
    dc.MoveTo(r.left, r.bottom - 1);
    dc.LineTo(r.right, r.bottom - 1);
    dc.SelectObject(old);

    if (CWnd* place = GetDlgItem(IDC_ICON_PLACE)) {
        CRect at;
        place->GetWindowRect(&at);
        ScreenToClient(&at);
        if (HICON icon = FileIcon()) dc.DrawIcon(at.left, at.top, icon);
    }
    if (m_chkSelect.m_hWnd) {
        CRect box;
        m_chkSelect.GetWindowRect(&box);
        ScreenToClient(&box);
        // Under the header's select-all box.
        if (box.left != m_nCheckX - 1) m_chkSelect.MoveWindow(m_nCheckX - 1, box.top, box.Width(), box.Height());
    }
    FitLabelText(dc, m_stcName, m_strName);
}

HBRUSH CUploaded::OnCtlColor(CDC* dc, CWnd* wnd, UINT kind) {
    CDialog::OnCtlColor(dc, wnd, kind);  // the links colour their own text
    COLORREF text = CLR_INVALID;
    if (kind == CTLCOLOR_STATIC && wnd) {
        switch (::GetDlgCtrlID(wnd->m_hWnd)) {
        case IDC_NAME: text = palette::kName; break;
        case IDC_FILE_SIZE:
        case IDC_EXPIRY: text = palette::kLabel; break;
        default: break;
        }
    }
    return palette::Paint(*dc, m_brush, palette::kRow, text);
}
