// The resources as they come out of the resource compiler, read back from the built Lookwell.exe,
// or from the executable LOOKWELL_EXE names (the release package's stripped copy).
#include "res/resource.h"
#include "support/dialog_test.h"
#include "support/resource_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <iostream>
#include <set>

namespace {

constexpr WORD kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
constexpr WORD kButton = 0x0080;
constexpr WORD kStatic = 0x0082;
constexpr WORD kComboBox = 0x0085;

struct ExpectedText {
    NameOrOrdinal::Kind kind;
    const wchar_t* name; // nullptr: any non-empty name
    WORD ordinal;
};

constexpr ExpectedText kNoText{NameOrOrdinal::Kind::None, L"", 0};
constexpr ExpectedText kAnyText{NameOrOrdinal::Kind::Name, nullptr, 0};
constexpr ExpectedText Text(const wchar_t* name) {
    return {NameOrOrdinal::Kind::Name, name, 0};
}
constexpr ExpectedText IconText(WORD ordinal) {
    return {NameOrOrdinal::Kind::Ordinal, nullptr, ordinal};
}

struct ExpectedControl {
    const char* name;
    DWORD id;
    WORD classOrdinal;
    const wchar_t* className;
    DWORD style;
    ExpectedText text;
    short x, y, cx, cy;
};

std::string Rect(short x, short y, short cx, short cy) {
    return "(" + std::to_string(x) + ", " + std::to_string(y) + ", " + std::to_string(cx) + ", " +
           std::to_string(cy) + ")";
}

std::wstring Lower(std::wstring text) {
    for (wchar_t& ch : text)
        ch = static_cast<wchar_t>(::towlower(ch));
    return text;
}

// Window classes are looked up without regard to case.
bool IsClass(const NameOrOrdinal& field, WORD ordinal, const wchar_t* name) {
    if (field.kind == NameOrOrdinal::Kind::Ordinal)
        return field.ordinal == ordinal;
    return field.kind == NameOrOrdinal::Kind::Name && Lower(field.name) == Lower(name);
}

bool IsText(const NameOrOrdinal& field, const ExpectedText& text) {
    if (field.kind != text.kind)
        return false;
    switch (text.kind) {
    case NameOrOrdinal::Kind::None:
        return true;
    case NameOrOrdinal::Kind::Ordinal:
        return field.ordinal == text.ordinal;
    case NameOrOrdinal::Kind::Name:
        return text.name ? field.name == text.name : !field.name.empty();
    }
    return false;
}

std::string Describe(const ExpectedText& text) {
    if (text.kind == NameOrOrdinal::Kind::Name && text.name == nullptr)
        return "any non-empty text";
    NameOrOrdinal field;
    field.kind = text.kind;
    field.ordinal = text.ordinal;
    field.name = text.name ? text.name : L"";
    return Describe(field);
}

// Compares every field of every control, naming the control and the field that differs.
void ExpectControls(const DialogTemplate& dialog, const std::vector<ExpectedControl>& expected,
                    const std::string& templateName) {
    EXPECT_EQ(dialog.items.size(), expected.size()) << templateName << ": number of controls";
    std::set<std::string> classForms;
    for (size_t i = 0; i < std::min(dialog.items.size(), expected.size()); ++i) {
        const DialogItem& item = dialog.items[i];
        const ExpectedControl& want = expected[i];
        std::string where =
            templateName + ", control " + std::to_string(i + 1) + " (" + want.name + "): ";
        EXPECT_EQ(Hex(item.id), Hex(want.id)) << where << "id";
        EXPECT_TRUE(IsClass(item.windowClass, want.classOrdinal, want.className))
            << where << "class is " << Describe(item.windowClass) << ", expected ordinal "
            << Hex(want.classOrdinal) << " or the name \"" << Printable(want.className) << "\"";
        classForms.insert(item.windowClass.kind == NameOrOrdinal::Kind::Ordinal ? "ordinals"
                                                                                : "names");
        EXPECT_EQ(Hex(item.style), Hex(want.style)) << where << "style";
        EXPECT_EQ(Hex(item.exStyle), Hex(0)) << where << "extended style";
        EXPECT_EQ(Hex(item.helpId), Hex(0)) << where << "help id";
        EXPECT_TRUE(IsText(item.text, want.text))
            << where << "text is " << Describe(item.text) << ", expected " << Describe(want.text);
        EXPECT_EQ(Rect(item.x, item.y, item.cx, item.cy), Rect(want.x, want.y, want.cx, want.cy))
            << where << "rectangle (x, y, cx, cy)";
        EXPECT_TRUE(item.creationData.empty())
            << where << item.creationData.size() << " bytes of creation data";
    }
    std::string forms;
    for (const std::string& form : classForms)
        forms += (forms.empty() ? "" : " and ") + form;
    ::testing::Test::RecordProperty("control_classes", forms);
    std::cout << "[   NOTE   ] " << templateName << " gives its control classes as " << forms
              << "\n";
}

// What the two dialog templates' headers share: style, frame, title, no menu, no class, font.
struct HeaderSpec {
    DWORD style;
    DWORD exStyle;
    std::string rect; // as Rect() writes it
    const wchar_t* title;
    WORD pointSize;
};

void ExpectHeader(const DialogTemplate& dialog, const HeaderSpec& want) {
    EXPECT_EQ(Hex(dialog.style), Hex(want.style)) << "style";
    EXPECT_EQ(Hex(dialog.exStyle), Hex(want.exStyle)) << "extended style";
    EXPECT_EQ(Rect(dialog.x, dialog.y, dialog.cx, dialog.cy), want.rect);
    EXPECT_EQ(Describe(dialog.menu), "nothing") << "menu";
    EXPECT_EQ(Describe(dialog.windowClass), "nothing") << "class";
    EXPECT_EQ(dialog.title, want.title);
    ASSERT_TRUE(dialog.hasFont);
    EXPECT_EQ(dialog.pointSize, want.pointSize) << "font point size";
    EXPECT_EQ(dialog.face, L"MS Sans Serif");
}

class Resources : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(exe.IsOpen()) << "Lookwell.exe does not load as a data file, error "
                                  << exe.OpenError();
    }

    std::vector<BYTE> Bytes(LPCWSTR type, WORD id) const {
        auto bytes = exe.Load(type, MAKEINTRESOURCEW(id));
        if (!bytes)
            ADD_FAILURE() << "resource " << id << " is missing";
        return bytes.value_or(std::vector<BYTE>{});
    }

    std::vector<BYTE> EnglishBytes(LPCWSTR type, WORD id) const {
        EXPECT_EQ(exe.Languages(type, MAKEINTRESOURCEW(id)), std::vector<WORD>{kEnglishUs})
            << "resource " << id << " should exist in US English only";
        auto bytes = exe.Load(type, MAKEINTRESOURCEW(id), kEnglishUs);
        if (!bytes)
            ADD_FAILURE() << "resource " << id << " is missing in US English";
        return bytes.value_or(std::vector<BYTE>{});
    }

    VersionNode Version() const {
        VersionNode root;
        std::string error;
        EXPECT_TRUE(ParseVersionInfo(EnglishBytes(RT_VERSION, 1), root, error)) << error;
        return root;
    }

    static std::wstring ExecutablePath() {
        wchar_t named[MAX_PATH] = L"";
        DWORD nLength = ::GetEnvironmentVariableW(L"LOOKWELL_EXE", named, MAX_PATH);
        return nLength > 0 && nLength < MAX_PATH ? named : ModuleFolder() + L"Lookwell.exe";
    }

    const std::wstring path = ExecutablePath();
    ResourceFile exe{path};
};

std::vector<std::wstring> Keys(const VersionNode& node) {
    std::vector<std::wstring> keys;
    for (const VersionNode& child : node.children)
        keys.push_back(child.key);
    return keys;
}

} // namespace

TEST_F(Resources, MainDialogIsAnExtendedTemplateWithItsSevenControls) {
    DialogTemplate dialog;
    std::string error;
    ASSERT_TRUE(ParseDialogTemplate(Bytes(RT_DIALOG, IDD_LOOKWELL_DIALOG), dialog, error)) << error;
    ASSERT_TRUE(dialog.extended) << "template 102 should be extended (version 1, 0xFFFF)";
    EXPECT_EQ(dialog.version, 1);
    EXPECT_EQ(dialog.signature, 0xFFFF);
    EXPECT_EQ(Hex(dialog.helpId), Hex(0)) << "help id";
    ExpectHeader(dialog, {0x90CA00C0, WS_EX_APPWINDOW, Rect(0, 0, 139, 135), L"Lookwell", 8});
    EXPECT_EQ(dialog.weight, 0) << "font weight";
    EXPECT_EQ(dialog.italic, 0) << "font italic";
    EXPECT_EQ(dialog.charset, 1) << "font charset";

    ExpectControls(
        dialog,
        {
            {"IDOK", IDOK, kButton, L"Button", 0x40010000, Text(L"OK"), 0, 0, 6, 6},
            {"IDCANCEL", IDCANCEL, kButton, L"Button", 0x40010000, Text(L"Cancel"), 5, 0, 6, 6},
            {"IDC_PREVIEW", IDC_PREVIEW, kStatic, L"Static", 0x50000004, kNoText, 0, 30, 85, 85},
            {"IDC_DEVICE_LIST", IDC_DEVICE_LIST, kComboBox, L"ComboBox", 0x58210003, kNoText, 0, 0,
             70, 120},
            {"IDC_MESSAGE", IDC_MESSAGE, kStatic, L"Static", 0x40020000, kAnyText, 80, 80, 45, 30},
            {"IDC_FORMAT_LIST", IDC_FORMAT_LIST, kComboBox, L"ComboBox", 0x58210003, kNoText, 0, 15,
             70, 105},
            {"IDC_PREVIEW_BUTTON", IDC_PREVIEW_BUTTON, kButton, L"Button", 0x58012001,
             Text(L"Pre\nview"), 70, 0, 25, 28},
        },
        "template 102");
}

TEST_F(Resources, AboutDialogIsAClassicTemplateWithItsSixControls) {
    DialogTemplate dialog;
    std::string error;
    ASSERT_TRUE(ParseDialogTemplate(Bytes(RT_DIALOG, IDD_ABOUTBOX), dialog, error)) << error;
    ASSERT_FALSE(dialog.extended) << "template 100 should be classic";
    ExpectHeader(dialog, {0x80C800C0, 0, Rect(0, 0, 177, 83), L"About Lookwell", 8});
    EXPECT_EQ(Hex(dialog.style),
              Hex(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT))
        << "style by name";

    constexpr DWORD kLabel = WS_CHILD | WS_VISIBLE | WS_GROUP | SS_NOPREFIX | SS_LEFT;
    static_assert(kLabel == 0x50020080);
    static_assert((WS_CHILD | WS_VISIBLE | SS_ICON) == 0x50000003);
    static_assert((WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP | BS_DEFPUSHBUTTON) == 0x50030001);
    ExpectControls(
        dialog,
        {
            {"icon", 0xFFFF, kStatic, L"Static", 0x50000003, IconText(IDR_MAINFRAME), 5, 5, 20, 20},
            {"IDC_ABOUT_NAME", IDC_ABOUT_NAME, kStatic, L"Static", kLabel, kNoText, 35, 5, 135, 8},
            {"IDOK", IDOK, kButton, L"Button", 0x50030001, Text(L"OK"), 5, 35, 20, 40},
            {"IDC_ABOUT_VERSION", IDC_ABOUT_VERSION, kStatic, L"Static", kLabel, kNoText, 35, 15,
             135, 8},
            {"IDC_ABOUT_COPYRIGHT", IDC_ABOUT_COPYRIGHT, kStatic, L"Static", kLabel, kNoText, 35,
             30, 135, 8},
            {"IDC_ABOUT_COMPANY", IDC_ABOUT_COMPANY, kStatic, L"Static", kLabel, kNoText, 35, 45,
             135, 15},
        },
        "template 100");
}

TEST_F(Resources, MainIconHoldsA32And16PixelImageOf16Colours) {
    IconGroup group;
    std::string error;
    ASSERT_TRUE(ParseIconGroup(Bytes(RT_GROUP_ICON, IDR_MAINFRAME), group, error)) << error;
    EXPECT_EQ(group.reserved, 0);
    EXPECT_EQ(group.type, 1) << "an icon group, not a cursor group";
    ASSERT_EQ(group.entries.size(), 2u) << "number of images";
    const BYTE sizes[] = {32, 16};
    for (size_t i = 0; i < 2; ++i) {
        const IconDirEntry& entry = group.entries[i];
        const int size = sizes[i];
        std::string where = "image " + std::to_string(i + 1) + " (id " + std::to_string(entry.id) +
                            "), " + std::to_string(size) + " pixels: ";
        EXPECT_EQ(entry.width, size) << where << "directory width";
        EXPECT_EQ(entry.height, size) << where << "directory height";
        EXPECT_EQ(entry.colorCount, 16) << where << "directory colour count";
        EXPECT_EQ(entry.planes, 1) << where << "directory planes";
        EXPECT_EQ(entry.bitCount, 4) << where << "directory bit count";

        std::vector<BYTE> image = Bytes(RT_ICON, entry.id);
        EXPECT_EQ(image.size(), entry.bytesInRes) << where << "image size against the directory";
        BITMAPINFOHEADER header;
        ASSERT_TRUE(ParseBitmapHeader(image, header, error)) << where << error;
        EXPECT_EQ(header.biSize, sizeof(BITMAPINFOHEADER)) << where << "header size";
        EXPECT_EQ(header.biWidth, size) << where << "bitmap width";
        EXPECT_EQ(header.biHeight, 2 * size) << where << "bitmap height covers image and mask";
        EXPECT_EQ(header.biPlanes, 1) << where << "bitmap planes";
        EXPECT_EQ(header.biBitCount, 4) << where << "bitmap bit count";
    }
}

TEST_F(Resources, AboutMenuItemString) {
    constexpr WORD block = IDS_ABOUTBOX / 16 + 1;
    std::vector<std::wstring> strings;
    std::string error;
    ASSERT_TRUE(ParseStringBlock(EnglishBytes(RT_STRING, block), strings, error)) << error;
    ASSERT_EQ(strings.size(), 16u);
    EXPECT_EQ(strings[IDS_ABOUTBOX % 16], L"&About Lookwell...");

    wchar_t loaded[64] = L"";
    HMODULE hExe = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(hExe, nullptr);
    ::LoadStringW(hExe, IDS_ABOUTBOX, loaded, 64);
    ::FreeLibrary(hExe);
    EXPECT_EQ(std::wstring(loaded), strings[IDS_ABOUTBOX % 16]) << "as the platform loads it";
}

TEST_F(Resources, VersionFixedInfoIs1051SpecialBuildOfAnApplication) {
    VersionNode root = Version();
    EXPECT_EQ(root.key, L"VS_VERSION_INFO");
    EXPECT_EQ(root.type, 0) << "binary value";
    ASSERT_EQ(root.value.size(), sizeof(VS_FIXEDFILEINFO)) << "fixed file info size";
    VS_FIXEDFILEINFO info;
    std::memcpy(&info, root.value.data(), sizeof info);
    EXPECT_EQ(Hex(info.dwSignature), Hex(0xFEEF04BD)) << "signature";
    EXPECT_EQ(Hex(info.dwStrucVersion), Hex(0x00010000)) << "structure version";
    EXPECT_EQ(Hex(info.dwFileVersionMS), Hex(0x00010000)) << "file version 1.0";
    EXPECT_EQ(Hex(info.dwFileVersionLS), Hex(0x00050001)) << "file version .5.1";
    EXPECT_EQ(Hex(info.dwProductVersionMS), Hex(0x00010000)) << "product version 1.0";
    EXPECT_EQ(Hex(info.dwProductVersionLS), Hex(0x00050001)) << "product version .5.1";
    EXPECT_EQ(Hex(info.dwFileFlagsMask), Hex(0x3F)) << "flags mask";
    EXPECT_EQ(Hex(info.dwFileFlags), Hex(VS_FF_SPECIALBUILD)) << "flags";
    EXPECT_EQ(Hex(info.dwFileOS), Hex(VOS__WINDOWS32)) << "OS";
    EXPECT_EQ(Hex(info.dwFileType), Hex(VFT_APP)) << "type";
    EXPECT_EQ(Hex(info.dwFileSubtype), Hex(0)) << "subtype";
    EXPECT_EQ(Hex(info.dwFileDateMS), Hex(0)) << "date, high part";
    EXPECT_EQ(Hex(info.dwFileDateLS), Hex(0)) << "date, low part";
    EXPECT_EQ(Keys(root), (std::vector<std::wstring>{L"StringFileInfo", L"VarFileInfo"}));
}

TEST_F(Resources, VersionStringTableHoldsItsKeysInOrder) {
    VersionNode root = Version();
    const VersionNode* fileInfo = root.Child(L"StringFileInfo");
    ASSERT_NE(fileInfo, nullptr);
    ASSERT_EQ(Keys(*fileInfo), std::vector<std::wstring>{L"040904b0"}) << "string tables";
    const VersionNode& table = fileInfo->children[0];

    const std::wstring comments = L"Lookwell Live Camera Viewer";
    const std::wstring description =
        comments + L" - shows the live picture of a video capture device";
    const std::vector<std::pair<std::wstring, std::wstring>> expected = {
        {L"Comments", comments},
        {L"CompanyName", L"The Lookwell developers\r\nLookwell Project"},
        {L"FileDescription", description},
        {L"FileVersion", L"1, 0, 5, 1"},
        {L"InternalName", L"Lookwell"},
        {L"LegalCopyright", L"(C) 2026 The Lookwell developers"},
        {L"LegalTrademarks", L"Lookwell"},
        {L"OriginalFilename", L"Lookwell.exe"},
        {L"PrivateBuild", L""},
        {L"ProductName", description},
        {L"ProductVersion", L"1, 0, 5, 1"},
        {L"SpecialBuild", L"UNICODE version"},
    };
    std::vector<std::wstring> expectedKeys;
    for (const auto& [key, value] : expected)
        expectedKeys.push_back(key);
    EXPECT_EQ(Keys(table), expectedKeys) << "keys and their order";

    for (const auto& [key, value] : expected) {
        const VersionNode* entry = table.Child(key);
        if (entry == nullptr)
            continue; // reported with the keys
        std::string where = Printable(key) + ": ";
        EXPECT_EQ(entry->type, 1) << where << "a text value";
        EXPECT_EQ(static_cast<size_t>(entry->valueLength), entry->Text().size() + 1)
            << where << "value length counts the characters and the terminator";
        EXPECT_TRUE(entry->children.empty()) << where << "nested blocks";
        EXPECT_EQ(entry->Text(), value) << where << "value";
    }

    // The rules the free values follow, whatever their wording.
    auto text = [&](const wchar_t* key) {
        const VersionNode* entry = table.Child(key);
        return entry ? entry->Text() : std::wstring();
    };
    const std::wstring name = text(L"Comments");
    EXPECT_FALSE(name.empty()) << "Comments holds the product's long name";
    for (const wchar_t* key : {L"FileDescription", L"ProductName"}) {
        EXPECT_EQ(text(key).rfind(name, 0), 0u)
            << Printable(key) << " starts with the long name from Comments";
        EXPECT_GT(text(key).size(), name.size())
            << Printable(key) << " adds a description to the long name";
    }
    const std::wstring company = text(L"CompanyName");
    size_t lineBreak = company.find(L"\r\n");
    ASSERT_NE(lineBreak, std::wstring::npos) << "CompanyName is on two lines";
    EXPECT_GT(lineBreak, 0u) << "CompanyName's first line is empty";
    EXPECT_LT(lineBreak + 2, company.size()) << "CompanyName's second line is empty";
    std::wstring lines = company.substr(0, lineBreak) + company.substr(lineBreak + 2);
    EXPECT_EQ(lines.find_first_of(L"\r\n"), std::wstring::npos)
        << "CompanyName has exactly one CR LF and no other line break";
    const std::wstring copyright = text(L"LegalCopyright");
    EXPECT_FALSE(copyright.empty()) << "LegalCopyright";
    EXPECT_EQ(copyright.find_first_of(L"\r\n"), std::wstring::npos)
        << "LegalCopyright is a single line";
}

TEST_F(Resources, VersionTranslationIsUsEnglishUnicode) {
    VersionNode root = Version();
    const VersionNode* varInfo = root.Child(L"VarFileInfo");
    ASSERT_NE(varInfo, nullptr);
    ASSERT_EQ(Keys(*varInfo), std::vector<std::wstring>{L"Translation"});
    const VersionNode& translation = varInfo->children[0];
    EXPECT_EQ(translation.type, 0) << "binary value";
    ASSERT_EQ(translation.value.size(), 4u) << "exactly one language and code page pair";
    WORD pair[2];
    std::memcpy(pair, translation.value.data(), sizeof pair);
    EXPECT_EQ(Hex(pair[0]), Hex(0x0409)) << "language";
    EXPECT_EQ(Hex(pair[1]), Hex(0x04B0)) << "code page";
}

TEST_F(Resources, VersionAsThePlatformReadsIt) {
    VersionNode root = Version();
    const VersionNode* fileInfo = root.Child(L"StringFileInfo");
    ASSERT_TRUE(fileInfo && !fileInfo->children.empty());
    const VersionNode* company = fileInfo->children[0].Child(L"CompanyName");
    ASSERT_NE(company, nullptr);

    DWORD handle = 0;
    DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_GT(size, 0u) << "error " << ::GetLastError();
    std::vector<BYTE> block(size);
    ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(
        ::VerQueryValueW(block.data(), L"\\StringFileInfo\\040904B0\\CompanyName", &value, &length))
        << "the block name matches whatever its case";
    EXPECT_EQ(std::wstring(static_cast<const wchar_t*>(value)), company->Text());

    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", &value, &length));
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(std::memcmp(value, root.value.data(), sizeof(VS_FIXEDFILEINFO)), 0)
        << "the same fixed file info";
}

// The parsers must refuse damaged data rather than read beyond it.
TEST_F(Resources, ParsersRejectTruncatedAndOverlongData) {
    std::string error;
    for (WORD id : {WORD{IDD_LOOKWELL_DIALOG}, WORD{IDD_ABOUTBOX}}) {
        std::vector<BYTE> bytes = Bytes(RT_DIALOG, id);
        DialogTemplate dialog, damaged;
        ASSERT_TRUE(ParseDialogTemplate(bytes, dialog, error)) << error;
        ASSERT_LE(dialog.bytesUsed, bytes.size());
        for (size_t n = 0; n < dialog.bytesUsed; ++n) {
            std::vector<BYTE> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
            EXPECT_FALSE(ParseDialogTemplate(cut, damaged, error))
                << "template " << id << " cut to " << n << " bytes";
        }
        // One control more than the data holds.
        const size_t count = dialog.extended ? 16 : 8;
        bytes[count] = static_cast<BYTE>(bytes[count] + 1);
        EXPECT_FALSE(ParseDialogTemplate(bytes, damaged, error)) << "template " << id;
        EXPECT_NE(error, "");
    }

    std::vector<BYTE> version = EnglishBytes(RT_VERSION, 1);
    VersionNode root;
    ASSERT_GE(version.size(), 2u);
    const auto rootLength = static_cast<size_t>(version[0] | version[1] << 8);
    ASSERT_LE(rootLength, version.size());
    for (size_t n = 0; n < rootLength; ++n) {
        std::vector<BYTE> cut(version.begin(), version.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_FALSE(ParseVersionInfo(cut, root, error)) << "version cut to " << n << " bytes";
    }
    // The first child, StringFileInfo, claims one byte more than its parent holds.
    const size_t firstChild =
        (6 + sizeof(L"VS_VERSION_INFO") + 3) / 4 * 4 + sizeof(VS_FIXEDFILEINFO);
    ASSERT_LT(firstChild + 1, version.size());
    const size_t overlong = rootLength - firstChild + 1;
    version[firstChild] = static_cast<BYTE>(overlong & 0xFF);
    version[firstChild + 1] = static_cast<BYTE>(overlong >> 8);
    EXPECT_FALSE(ParseVersionInfo(version, root, error));
    EXPECT_NE(error, "");

    std::vector<BYTE> icons = Bytes(RT_GROUP_ICON, IDR_MAINFRAME);
    IconGroup group, damagedGroup;
    ASSERT_TRUE(ParseIconGroup(icons, group, error)) << error;
    for (size_t n = 0; n < 6 + 14 * group.entries.size(); ++n) {
        std::vector<BYTE> cut(icons.begin(), icons.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_FALSE(ParseIconGroup(cut, damagedGroup, error))
            << "icon group cut to " << n << " bytes";
    }

    std::vector<BYTE> strings = EnglishBytes(RT_STRING, IDS_ABOUTBOX / 16 + 1);
    std::vector<std::wstring> block, damagedBlock;
    ASSERT_TRUE(ParseStringBlock(strings, block, error)) << error;
    size_t used = 0;
    for (const std::wstring& text : block)
        used += 2 + 2 * text.size();
    for (size_t n = 0; n < used; ++n) {
        std::vector<BYTE> cut(strings.begin(), strings.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_FALSE(ParseStringBlock(cut, damagedBlock, error)) << "string block cut to " << n;
    }
}

TEST_F(Resources, ManifestDeclaresSystemDpiAwarenessAndNoNewVisualStyle) {
    std::vector<BYTE> bytes = EnglishBytes(RT_MANIFEST, 1);
    std::string xml(bytes.begin(), bytes.end());
    // Scaled displays show camera pixels 1:1: the system does not stretch a DPI-aware window.
    EXPECT_NE(std::string::npos, xml.find(">true</dpiAware>")) << xml;
    EXPECT_EQ(std::string::npos, xml.find("dpiAwareness")) << "system awareness, not per monitor";
    // A dependency on the common controls' version 6 would restyle every control.
    EXPECT_EQ(std::string::npos, xml.find("Common-Controls")) << xml;
    for (const char* pszOs : {"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",    // Windows 10 and 11
                              "{1f676c76-80e1-4239-95bb-83d0f6d0da78}"}) { // Windows 8.1
        EXPECT_NE(std::string::npos, xml.find(pszOs)) << pszOs;
    }
    EXPECT_NE(std::string::npos, xml.find("version=\"1.0.5.1\"")) << "the build's one version";
}
