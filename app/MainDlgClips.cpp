// The clip list's side of the main window: the list view, Add clip, Remove clip and the output
// folder's browse button.

#include <QTreeWidget>

#include "MainDlg.h"

void CMainDlg::InitClipList() {}

void CMainDlg::OnAddClip() {
    if (!m_clipList->isEnabled()) return;
    AddLogLine(QStringLiteral("Adding clips is not available in this build."));
}

void CMainDlg::OnRemoveClip() {
    if (!m_clipList->isEnabled()) return;
}

void CMainDlg::OnBrowse() {}

void CMainDlg::DestroyClips() {
    while (!m_clips.empty()) m_clips.pop_back();
}
