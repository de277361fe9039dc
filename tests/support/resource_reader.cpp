#include "support/resource_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

ResourceFile::ResourceFile(const std::wstring& path) {
    m_hModule = ::LoadLibraryExW(path.c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (m_hModule == nullptr)
        m_openError = ::GetLastError();
}

ResourceFile::~ResourceFile() {
    if (m_hModule != nullptr)
        ::FreeLibrary(m_hModule);
}

std::optional<std::vector<BYTE>> ResourceFile::Load(LPCWSTR type, LPCWSTR name) const {
    return Copy(m_hModule ? ::FindResourceW(m_hModule, name, type) : nullptr);
}

std::optional<std::vector<BYTE>> ResourceFile::Load(LPCWSTR type, LPCWSTR name,
                                                    WORD language) const {
    return Copy(m_hModule ? ::FindResourceExW(m_hModule, type, name, language) : nullptr);
}

std::optional<std::vector<BYTE>> ResourceFile::Copy(HRSRC hResource) const {
    if (hResource == nullptr)
        return std::nullopt;
    HGLOBAL hData = ::LoadResource(m_hModule, hResource);
    const void* data = hData ? ::LockResource(hData) : nullptr;
    if (data == nullptr)
        return std::nullopt;
    const BYTE* first = static_cast<const BYTE*>(data);
    return std::vector<BYTE>(first, first + ::SizeofResource(m_hModule, hResource));
}

namespace {

BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
    reinterpret_cast<std::vector<WORD>*>(param)->push_back(language);
    return TRUE;
}

} // namespace

std::vector<WORD> ResourceFile::Languages(LPCWSTR type, LPCWSTR name) const {
    std::vector<WORD> languages;
    if (m_hModule != nullptr)
        ::EnumResourceLanguagesW(m_hModule, type, name, AddLanguage,
                                 reinterpret_cast<LONG_PTR>(&languages));
    return languages;
}

namespace {

// Reads little-endian fields from [offset, end) of the bytes. The first failure is kept in
// the shared error; after it every read yields zero and nothing more is read.
class Cursor {
public:
    Cursor(const std::vector<BYTE>& bytes, size_t begin, size_t end, std::string& error)
        : m_bytes(bytes), m_pos(begin), m_end(std::min(end, bytes.size())), m_error(error) {}

    bool Ok() const { return m_error.empty(); }
    size_t Offset() const { return m_pos; }
    size_t End() const { return m_end; }

    bool Fail(const std::string& what) {
        if (m_error.empty())
            m_error = what + " at offset " + std::to_string(m_pos);
        m_pos = m_end;
        return false;
    }

    void Seek(size_t offset) {
        if (offset > m_end)
            Fail("seeking past the end");
        else
            m_pos = offset;
    }

    // Offsets count from the start of the resource, which is DWORD aligned. The padding after
    // a block's last part need not be inside it.
    void AlignDword() { m_pos = std::min((m_pos + 3) & ~size_t{3}, m_end); }

    BYTE Byte(const char* what) {
        BYTE value = 0;
        Read(&value, sizeof value, what);
        return value;
    }
    WORD Word(const char* what) {
        WORD value = 0;
        Read(&value, sizeof value, what);
        return value;
    }
    short Short(const char* what) { return static_cast<short>(Word(what)); }
    DWORD Dword(const char* what) {
        DWORD value = 0;
        Read(&value, sizeof value, what);
        return value;
    }

    std::vector<BYTE> Bytes(size_t count, const char* what) {
        std::vector<BYTE> value;
        if (Check(count, what)) {
            auto first = m_bytes.begin() + static_cast<std::ptrdiff_t>(m_pos);
            value.assign(first, first + static_cast<std::ptrdiff_t>(count));
            m_pos += count;
        }
        return value;
    }

    std::wstring Chars(size_t count, const char* what) {
        std::wstring value;
        if (count > (m_end - m_pos) / 2) {
            Fail(std::string(what) + " runs past the end");
            return value;
        }
        for (size_t i = 0; i < count; ++i)
            value.push_back(static_cast<wchar_t>(Word(what)));
        return value;
    }

    // A zero-terminated UTF-16 string.
    std::wstring String(const char* what) {
        std::wstring value;
        while (Ok()) {
            if (m_end - m_pos < 2) {
                Fail(std::string(what) + " has no terminator");
                break;
            }
            WORD ch = Word(what);
            if (ch == 0)
                break;
            value.push_back(static_cast<wchar_t>(ch));
        }
        return value;
    }

    NameOrOrdinal NameOrOrd(const char* what) {
        NameOrOrdinal field;
        WORD first = Word(what);
        if (!Ok() || first == 0)
            return field;
        if (first == 0xFFFF) {
            field.kind = NameOrOrdinal::Kind::Ordinal;
            field.ordinal = Word(what);
        } else {
            field.kind = NameOrOrdinal::Kind::Name;
            field.name = static_cast<wchar_t>(first) + String(what);
        }
        return field;
    }

private:
    bool Check(size_t count, const char* what) {
        if (!Ok())
            return false;
        if (count > m_end - m_pos)
            return Fail(std::string(what) + " runs past the end");
        return true;
    }

    void Read(void* out, size_t count, const char* what) {
        if (Check(count, what)) {
            std::memcpy(out, m_bytes.data() + m_pos, count);
            m_pos += count;
        }
    }

    const std::vector<BYTE>& m_bytes;
    size_t m_pos;
    size_t m_end;
    std::string& m_error;
};

} // namespace

bool ParseDialogTemplate(const std::vector<BYTE>& bytes, DialogTemplate& dialog,
                         std::string& error) {
    error.clear();
    dialog = DialogTemplate{};
    Cursor c(bytes, 0, bytes.size(), error);
    WORD first = c.Word("version");
    WORD second = c.Word("signature");
    dialog.extended = first == 1 && second == 0xFFFF;
    if (dialog.extended) {
        dialog.version = first;
        dialog.signature = second;
        dialog.helpId = c.Dword("help id");
        dialog.exStyle = c.Dword("extended style");
        dialog.style = c.Dword("style");
    } else {
        dialog.style = static_cast<DWORD>(first) | static_cast<DWORD>(second) << 16;
        dialog.exStyle = c.Dword("extended style");
    }
    WORD count = c.Word("item count");
    dialog.x = c.Short("x");
    dialog.y = c.Short("y");
    dialog.cx = c.Short("cx");
    dialog.cy = c.Short("cy");
    dialog.menu = c.NameOrOrd("menu");
    dialog.windowClass = c.NameOrOrd("class");
    dialog.title = c.String("title");
    if (dialog.style & DS_SETFONT) {
        dialog.hasFont = true;
        dialog.pointSize = c.Word("point size");
        if (dialog.extended) {
            dialog.weight = c.Word("weight");
            dialog.italic = c.Byte("italic");
            dialog.charset = c.Byte("charset");
        }
        dialog.face = c.String("typeface");
    }
    for (WORD i = 0; i < count && c.Ok(); ++i) {
        c.AlignDword();
        DialogItem item;
        if (dialog.extended) {
            item.helpId = c.Dword("item help id");
            item.exStyle = c.Dword("item extended style");
            item.style = c.Dword("item style");
        } else {
            item.style = c.Dword("item style");
            item.exStyle = c.Dword("item extended style");
        }
        item.x = c.Short("item x");
        item.y = c.Short("item y");
        item.cx = c.Short("item cx");
        item.cy = c.Short("item cy");
        item.id = dialog.extended ? c.Dword("item id") : c.Word("item id");
        item.windowClass = c.NameOrOrd("item class");
        item.text = c.NameOrOrd("item text");
        WORD extra = c.Word("item creation data size");
        item.creationData = c.Bytes(extra, "item creation data");
        dialog.items.push_back(std::move(item));
    }
    dialog.bytesUsed = c.Offset();
    return c.Ok();
}

std::wstring VersionNode::Text() const {
    std::wstring text;
    for (size_t i = 0; i + 1 < value.size(); i += 2) {
        auto ch = static_cast<wchar_t>(value[i] | value[i + 1] << 8);
        if (ch == 0)
            break;
        text.push_back(ch);
    }
    return text;
}

const VersionNode* VersionNode::Child(const std::wstring& childKey) const {
    for (const VersionNode& child : children)
        if (child.key == childKey)
            return &child;
    return nullptr;
}

namespace {

// Real version resources nest four deep; the limit only guards against hostile data.
constexpr int kMaxVersionDepth = 8;

bool ParseVersionNode(const std::vector<BYTE>& bytes, Cursor& parent, VersionNode& node, int depth,
                      std::string& error) {
    size_t start = parent.Offset();
    WORD length = parent.Word("block length");
    if (!parent.Ok())
        return false;
    if (length < 6 || length > parent.End() - start)
        return parent.Fail("block length " + std::to_string(length) + " does not fit its parent");
    if (depth > kMaxVersionDepth)
        return parent.Fail("blocks nest too deep");
    Cursor c(bytes, start + 2, start + length, error);
    node.valueLength = c.Word("value length");
    node.type = c.Word("value type");
    node.key = c.String("key");
    c.AlignDword();
    size_t valueBytes = node.type == 1 ? size_t{node.valueLength} * 2 : node.valueLength;
    node.value = c.Bytes(valueBytes, "value");
    c.AlignDword();
    while (c.Ok() && c.Offset() < c.End()) {
        node.children.emplace_back();
        if (!ParseVersionNode(bytes, c, node.children.back(), depth + 1, error))
            return false;
        c.AlignDword();
    }
    parent.Seek(start + length);
    return c.Ok() && parent.Ok();
}

} // namespace

bool ParseVersionInfo(const std::vector<BYTE>& bytes, VersionNode& root, std::string& error) {
    error.clear();
    root = VersionNode{};
    Cursor c(bytes, 0, bytes.size(), error);
    return ParseVersionNode(bytes, c, root, 0, error);
}

bool ParseIconGroup(const std::vector<BYTE>& bytes, IconGroup& group, std::string& error) {
    error.clear();
    group = IconGroup{};
    Cursor c(bytes, 0, bytes.size(), error);
    group.reserved = c.Word("reserved");
    group.type = c.Word("type");
    WORD count = c.Word("image count");
    for (WORD i = 0; i < count && c.Ok(); ++i) {
        IconDirEntry entry;
        entry.width = c.Byte("width");
        entry.height = c.Byte("height");
        entry.colorCount = c.Byte("colour count");
        entry.reserved = c.Byte("entry reserved");
        entry.planes = c.Word("planes");
        entry.bitCount = c.Word("bit count");
        entry.bytesInRes = c.Dword("image size");
        entry.id = c.Word("image id");
        group.entries.push_back(entry);
    }
    return c.Ok();
}

bool ParseBitmapHeader(const std::vector<BYTE>& bytes, BITMAPINFOHEADER& header,
                       std::string& error) {
    error.clear();
    header = BITMAPINFOHEADER{};
    Cursor c(bytes, 0, bytes.size(), error);
    std::vector<BYTE> raw = c.Bytes(sizeof header, "bitmap header");
    if (!c.Ok())
        return false;
    std::memcpy(&header, raw.data(), sizeof header);
    return true;
}

bool ParseStringBlock(const std::vector<BYTE>& bytes, std::vector<std::wstring>& strings,
                      std::string& error) {
    error.clear();
    strings.clear();
    Cursor c(bytes, 0, bytes.size(), error);
    for (int i = 0; i < 16 && c.Ok(); ++i) {
        WORD length = c.Word("string length");
        strings.push_back(c.Chars(length, "string"));
    }
    return c.Ok();
}

std::string Printable(const std::wstring& text) {
    std::string out;
    for (wchar_t ch : text) {
        if (ch == L'\n') {
            out += "\\n";
        } else if (ch == L'\r') {
            out += "\\r";
        } else if (ch >= 0x20 && ch < 0x7F) {
            out.push_back(static_cast<char>(ch));
        } else {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%04X", static_cast<unsigned>(ch));
            out += code;
        }
    }
    return out;
}

std::string Describe(const NameOrOrdinal& field) {
    switch (field.kind) {
    case NameOrOrdinal::Kind::None:
        return "nothing";
    case NameOrOrdinal::Kind::Ordinal:
        return "ordinal " + Hex(field.ordinal);
    case NameOrOrdinal::Kind::Name:
        return "\"" + Printable(field.name) + "\"";
    }
    return "?";
}

std::string Hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
    return text;
}
