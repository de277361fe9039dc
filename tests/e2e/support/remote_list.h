// Another process's list control read as a person reads it: its rows' texts and where its cells
// are on the screen. The control's messages carry pointers, which must point into its own
// process: the structures and texts travel through memory allocated there.
#pragma once

#include "framework/object.h"

#include <windows.h>

#include <string>
#include <vector>

class CRemoteList : private CNoCopy {
public:
    explicit CRemoteList(HWND hList);
    ~CRemoteList();

    // False when the other process's memory could not be reached.
    bool IsReady() const { return m_pRemote != nullptr; }
    int Count() const;
    int Columns() const;
    std::wstring Text(int nItem, int nColumn) const;
    // Every column of a row.
    std::vector<std::wstring> Row(int nItem) const;
    // The column's header text.
    std::wstring Title(int nColumn) const;
    // A cell, in screen coordinates.
    RECT Cell(int nItem, int nColumn) const;
    bool IsSelected(int nItem) const;

private:
    // A text the control writes into a structure of that type, sent with the message.
    template <class T> std::wstring AskText(UINT nMessage, WPARAM wParam, T request) const;

    HWND m_hList;
    HANDLE m_hProcess = nullptr;
    void* m_pRemote = nullptr;
};
