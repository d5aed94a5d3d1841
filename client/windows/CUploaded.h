// One row of the uploaded-files tab: a stored file with its icon, name, size and time left, a
// check box and the "复制下载地址" label (the rename label is there but never shown).
#pragma once

#include <cstdint>
#include <functional>

#include "client/transfer/Protocol.h"
#include "client/windows/Palette.h"
#include "client/windows/WindowMessages.h"
#include "controls/CHyperLinker.h"
#include "framework/AfxWin.h"

class CUploaded : public CDialog {
public:
    enum {
        IDD = 134,
        IDC_SELECT = 1020,
        IDC_ICON_PLACE = 1021,
        IDC_NAME = 1023,
        IDC_COPY = 1024,
        IDC_RENAME = 1025,
        IDC_FILE_SIZE = 1026,
        IDC_EXPIRY = 1027,
    };
    static constexpr COLORREF kLinkColour = palette::kLink;
    static constexpr COLORREF kLinkHover = palette::kLinkHover;

    explicit CUploaded(CWnd* parent = nullptr);
    ~CUploaded() override;

    // From a file-list record and the reply naming the file's server. Text fields are read
    // only up to their field size.
    void SetFileInfo(const protocol::FileEntry& file, const protocol::ServerInfo& server);
    // As UTF-8 text and as Unicode text; false (the clipboard as it was) for an empty text or
    // a clipboard that cannot be opened.
    bool CopyLinkToClipboard(const CString& text);
    bool IsChecked() const;
    void SetChecked(bool checked);

    // Runs the rename prompt: true with the new name. Empty: the input box. Tests put their own.
    using NameAsker = std::function<bool(const CString& current, CString& renamed)>;
    static NameAsker& Renamer();
    // The shell's icon for a file name (the row owns and destroys what it returns); tests
    // count the lookups through their own.
    using IconLookup = std::function<HICON(const CString& name)>;
    static IconLookup& FileIconLookup();

    // Enter and Escape in a row never end it.
    void OnOK() override {}
    void OnCancel() override {}

    CString m_strLink;
    CString m_strName;
    uint64_t m_nSize = 0;
    uint64_t m_nFileId = 0;
    uint16_t m_nHoursLeft = 0;
    BOOL m_bChecked = FALSE;
    CStatic m_stcName;
    CStatic m_stcSize;
    CHyperLinker m_lnkCopy;
    CHyperLinker m_lnkRename;
    CButton m_chkSelect;
    int32_t m_nCheckX = 0;
    CStatic m_stcExpiry;
    CString m_strServerHost;
    CBrush m_brush;

protected:
    void DoDataExchange(CDataExchange* dx) override;
    afx_msg void OnPaint();
    afx_msg void OnCopyLink();
    afx_msg void OnRename();
    afx_msg void OnCheckRow();
    afx_msg HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT kind);

private:
    bool AskName(CString& renamed);
    // The shell's icon for the file's name, looked up once and released with the row.
    HICON FileIcon();
    // Destroys the icon; the next paint looks it up again (for a new name).
    void ForgetIcon();

    HICON m_hIcon = nullptr;
    bool m_bIconLooked = false;

    DECLARE_MESSAGE_MAP()
};
