// Reads resources back from a built executable and decodes their binary layouts, so that tests
// can compare what the resource compiler actually wrote. Every parser checks bounds: malformed
// data makes it return false with a message, never read past the end.
#pragma once

#include "framework/object.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

// An executable opened as data, for its resources only: none of its code runs.
class ResourceFile : private CNoCopy {
public:
    explicit ResourceFile(const std::wstring& path);
    ~ResourceFile();

    bool IsOpen() const { return m_hModule != nullptr; }
    DWORD OpenError() const { return m_openError; }

    // A copy of the resource's bytes in any language, or nothing when it is missing.
    std::optional<std::vector<BYTE>> Load(LPCWSTR type, LPCWSTR name) const;
    std::optional<std::vector<BYTE>> Load(LPCWSTR type, LPCWSTR name, WORD language) const;
    // The languages the resource exists in.
    std::vector<WORD> Languages(LPCWSTR type, LPCWSTR name) const;

private:
    std::optional<std::vector<BYTE>> Copy(HRSRC hResource) const;

    HMODULE m_hModule = nullptr;
    DWORD m_openError = 0;
};

// A field that holds nothing, a 16-bit ordinal or a string.
struct NameOrOrdinal {
    enum class Kind { None, Ordinal, Name };
    Kind kind = Kind::None;
    WORD ordinal = 0;
    std::wstring name;
};

struct DialogItem {
    DWORD helpId = 0;
    DWORD exStyle = 0;
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    DWORD id = 0; // a WORD in the classic layout
    NameOrOrdinal windowClass;
    NameOrOrdinal text;
    std::vector<BYTE> creationData;
};

struct DialogTemplate {
    bool extended = false;
    WORD version = 0;   // extended only
    WORD signature = 0; // extended only
    DWORD helpId = 0;   // extended only
    DWORD exStyle = 0;
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    NameOrOrdinal menu;
    NameOrOrdinal windowClass;
    std::wstring title;
    bool hasFont = false;
    WORD pointSize = 0;
    WORD weight = 0;  // extended only
    BYTE italic = 0;  // extended only
    BYTE charset = 0; // extended only
    std::wstring face;
    std::vector<DialogItem> items;
    size_t bytesUsed = 0; // where the last item ended
};

bool ParseDialogTemplate(const std::vector<BYTE>& bytes, DialogTemplate& dialog,
                         std::string& error);

// One block of a version resource: a key, an optional value and nested blocks.
struct VersionNode {
    std::wstring key;
    WORD type = 0;        // 1 for text, 0 for binary
    WORD valueLength = 0; // characters for text, bytes for binary
    std::vector<BYTE> value;
    std::vector<VersionNode> children;

    // The text value up to its terminator.
    std::wstring Text() const;
    const VersionNode* Child(const std::wstring& childKey) const;
};

bool ParseVersionInfo(const std::vector<BYTE>& bytes, VersionNode& root, std::string& error);

// A directory entry of an icon group resource.
struct IconDirEntry {
    BYTE width = 0;
    BYTE height = 0;
    BYTE colorCount = 0;
    BYTE reserved = 0;
    WORD planes = 0;
    WORD bitCount = 0;
    DWORD bytesInRes = 0;
    WORD id = 0;
};

struct IconGroup {
    WORD reserved = 0;
    WORD type = 0;
    std::vector<IconDirEntry> entries;
};

bool ParseIconGroup(const std::vector<BYTE>& bytes, IconGroup& group, std::string& error);
bool ParseBitmapHeader(const std::vector<BYTE>& bytes, BITMAPINFOHEADER& header,
                       std::string& error);

// The sixteen strings of one string table block.
bool ParseStringBlock(const std::vector<BYTE>& bytes, std::vector<std::wstring>& strings,
                      std::string& error);

// Text for failure messages: ASCII with control characters escaped.
std::string Printable(const std::wstring& text);
std::string Describe(const NameOrOrdinal& field);
std::string Hex(DWORD value);
