// Settings through the real registry: defaults without a key, stored values snapped to their
// menu choices, and the eleven values written when the window closes.
#include "ViewerHarness.h"

#include <map>

namespace {

struct StoredValue {
    DWORD type;
    std::string bytes;
};

std::string Dword(DWORD value)
{
    return std::string(reinterpret_cast<const char*>(&value), 4);
}

void Store(const std::map<std::string, StoredValue>& values)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, TestSettingsKey, &key));
    for (const auto& [name, value] : values)
        RegSetValueExA(key, name.c_str(), 0, value.type, reinterpret_cast<const BYTE*>(value.bytes.data()),
                       DWORD(value.bytes.size()));
    RegCloseKey(key);
}

std::map<std::string, StoredValue> ReadAll()
{
    std::map<std::string, StoredValue> values;
    HKEY key;
    if (RegOpenKeyA(HKEY_CURRENT_USER, TestSettingsKey, &key) != ERROR_SUCCESS)
        return values;
    for (DWORD index = 0;; index++) {
        char name[256];
        BYTE data[512];
        DWORD nameLength = sizeof name, dataLength = sizeof data, type = 0xdeadbeef;
        if (RegEnumValueA(key, index, name, &nameLength, nullptr, &type, data, &dataLength) != ERROR_SUCCESS)
            break;
        values[name] = {type, std::string(reinterpret_cast<char*>(data), dataLength)};
    }
    RegCloseKey(key);
    return values;
}

// Closes the window as the user does; the settings are written on the way.
void CloseWindow(ViewerHarness& viewer)
{
    SendMessageA(viewer.form->Handle, WM_CLOSE, 0, 0);
    ASSERT_FALSE(IsWindow(viewer.form->Handle));
}

void ExpectSaved(const std::map<std::string, StoredValue>& expected, const char* context)
{
    std::map<std::string, StoredValue> saved = ReadAll();
    EXPECT_EQ(11u, saved.size()) << context;
    for (const auto& [name, value] : expected) {
        auto found = saved.find(name);
        ASSERT_NE(saved.end(), found) << context << ": " << name << " was not saved";
        EXPECT_EQ(value.type, found->second.type) << context << ": " << name;
        EXPECT_EQ(value.bytes, found->second.bytes) << context << ": " << name;
    }
}

RECT FrameOf(HWND window)
{
    RECT frame = {};
    GetWindowRect(window, &frame);
    return frame;
}

}  // namespace

TEST(Settings, DefaultsWithoutAKeyAndAllElevenSavedAtClose)
{
    ViewerHarness viewer;
    TForm1* form = viewer.form;
    EXPECT_EQ(32768, form->BufferSize);
    EXPECT_EQ(2, form->Detail);
    EXPECT_EQ(225, form->UpdateInterval);
    EXPECT_TRUE(form->Colors);
    EXPECT_EQ(4194304, form->BacklogSize);
    EXPECT_FALSE(form->ShowBacklog);
    EXPECT_FALSE(form->HexOnly);
    EXPECT_FALSE(form->LogFileOnly());
    EXPECT_EQ("", form->LogFileName());
    for (UINT item : {Id::MMenuItem32KB, Id::MenuItem32KB, Id::MMenuItemHigh, Id::MMenuItem225ms, Id::MenuItem225ms,
                      Id::MMenuItemColors, Id::MenuItemColors, Id::MMenuItemBacklogSize4MB})
        EXPECT_TRUE(form->ItemChecked(item)) << item;
    for (UINT item : {Id::MMenuItem128KB, Id::MMenuItemLow, Id::MMenuItem70ms, Id::MenuItemHexOnly,
                      Id::MMenuItemShowBacklog, Id::MMenuItemBacklogSize1MB})
        EXPECT_FALSE(form->ItemChecked(item)) << item;
    EXPECT_FALSE(IsWindowVisible(form->ProgressBarBacklog));
    EXPECT_FALSE(IsWindowVisible(form->LabelBacklog));
    RECT frame = FrameOf(form->Handle);
    EXPECT_EQ(633, frame.right - frame.left);
    EXPECT_EQ(407, frame.bottom - frame.top);

    CloseWindow(viewer);
    ExpectSaved({{"Width", {REG_DWORD, Dword(633)}}, {"Height", {REG_DWORD, Dword(407)}},
                 {"Buffer Size", {REG_DWORD, Dword(32768)}}, {"Detail", {REG_DWORD, Dword(2)}},
                 {"Log File", {REG_SZ, std::string(1, '\0')}}, {"Hex Only", {REG_DWORD, Dword(0)}},
                 {"Update Interval", {REG_DWORD, Dword(225)}}, {"Colors", {REG_DWORD, Dword(1)}},
                 {"Backlog Size", {REG_DWORD, Dword(4194304)}}, {"Show Backlog", {REG_DWORD, Dword(0)}},
                 {"Log File Only", {REG_DWORD, Dword(0)}}},
                "defaults");
}

TEST(Settings, StoredValuesAreSnappedShownAndSavedAgain)
{
    struct Case {
        const char* name;
        DWORD updateInterval;
        int32_t intervalUsed;
        UINT intervalItem;
    } cases[] = {{"interval 1", 1, 70, Id::MMenuItem70ms}, {"interval 126", 126, 225, Id::MMenuItem225ms}};
    for (const Case& c : cases) {
        ViewerHarness viewer([&] {
            Store({{"Width", {REG_DWORD, Dword(700)}},
                   {"Height", {REG_DWORD, Dword(500)}},
                   {"Buffer Size", {REG_DWORD, Dword(100000)}},
                   {"Detail", {REG_DWORD, Dword(7)}},
                   {"Log File", {REG_SZ, std::string("c:\\logs\\run.htm") + '\0'}},
                   {"Hex Only", {REG_BINARY, Dword(1)}},
                   {"Update Interval", {REG_DWORD, Dword(c.updateInterval)}},
                   {"Colors", {REG_DWORD, Dword(0)}},
                   {"Backlog Size", {REG_DWORD, Dword(0)}},
                   {"Show Backlog", {REG_QWORD, Dword(1) + Dword(0)}},   // too large for the value: default
                   {"Log File Only", {REG_DWORD, Dword(5)}}});
        });
        TForm1* form = viewer.form;
        EXPECT_EQ(131072, form->BufferSize) << c.name;
        EXPECT_EQ(7, form->Detail) << c.name;
        EXPECT_EQ(c.intervalUsed, form->UpdateInterval) << c.name;
        EXPECT_EQ(1048576, form->BacklogSize) << c.name;
        EXPECT_TRUE(form->HexOnly) << c.name;
        EXPECT_FALSE(form->Colors) << c.name;
        EXPECT_FALSE(form->ShowBacklog) << c.name;
        EXPECT_TRUE(form->LogFileOnly()) << c.name;
        EXPECT_EQ("c:\\logs\\run.htm", form->LogFileName()) << c.name;
        for (UINT item : std::initializer_list<UINT>{Id::MMenuItem128KB, Id::MenuItem128KB, Id::MMenuItemHigh, c.intervalItem,
                          Id::MMenuItemBacklogSize1MB, Id::MenuItemHexOnly})
            EXPECT_TRUE(form->ItemChecked(item)) << c.name << " item " << item;
        for (UINT item : {Id::MMenuItem32KB, Id::MMenuItemLow, Id::MMenuItemMedium, Id::MMenuItemColors,
                          Id::MenuItemColors, Id::MMenuItemBacklogSize4MB})
            EXPECT_FALSE(form->ItemChecked(item)) << c.name << " item " << item;
        RECT frame = FrameOf(form->Handle);
        EXPECT_EQ(700, frame.right - frame.left) << c.name;
        EXPECT_EQ(500, frame.bottom - frame.top) << c.name;

        CloseWindow(viewer);
        ExpectSaved({{"Width", {REG_DWORD, Dword(700)}}, {"Height", {REG_DWORD, Dword(500)}},
                     {"Buffer Size", {REG_DWORD, Dword(131072)}}, {"Detail", {REG_DWORD, Dword(7)}},
                     {"Log File", {REG_SZ, std::string("c:\\logs\\run.htm") + '\0'}},
                     {"Hex Only", {REG_DWORD, Dword(1)}}, {"Update Interval", {REG_DWORD, Dword(DWORD(c.intervalUsed))}},
                     {"Colors", {REG_DWORD, Dword(0)}}, {"Backlog Size", {REG_DWORD, Dword(1048576)}},
                     {"Show Backlog", {REG_DWORD, Dword(0)}}, {"Log File Only", {REG_DWORD, Dword(1)}}},
                    c.name);
    }
}

TEST(Settings, ChoicesMadeInTheMenusAreSaved)
{
    ViewerHarness viewer;
    TForm1* form = viewer.form;
    for (UINT item : {Id::MMenuItem2MB, Id::MMenuItemMedium, Id::MMenuItem125ms, Id::MMenuItemBacklogSize10MB,
                      Id::MMenuItemShowBacklog, Id::MenuItemColors, Id::MenuItemHexOnly})
        form->OnClick(item);
    EXPECT_TRUE(IsWindowVisible(form->ProgressBarBacklog));
    EXPECT_TRUE(form->ItemChecked(Id::MMenuItemBacklogSize10MB));
    EXPECT_EQ(10485760, form->BacklogSize);
    EXPECT_FALSE(form->ItemChecked(Id::MMenuItemColors)) << "both Colors items follow either one";
    EXPECT_TRUE(form->ItemChecked(Id::MenuItem125ms)) << "the context menu's interval follows the main menu";
    // the context menu's interval items act as the main menu's do
    form->OnClick(Id::MenuItem70ms);
    EXPECT_EQ(70, form->UpdateInterval);
    EXPECT_TRUE(form->ItemChecked(Id::MMenuItem70ms));
    EXPECT_FALSE(form->ItemChecked(Id::MenuItem125ms));
    form->OnClick(Id::MenuItem125ms);
    SetWindowTextA(form->EditLogFile, "trace.txt");
    CloseWindow(viewer);
    std::map<std::string, StoredValue> saved = ReadAll();
    struct Expected {
        const char* name;
        DWORD value;
    } expected[] = {{"Buffer Size", 2097152}, {"Detail", 1}, {"Update Interval", 125}, {"Backlog Size", 10485760},
                    {"Show Backlog", 1}, {"Colors", 0}, {"Hex Only", 1}};
    for (const Expected& e : expected)
        EXPECT_EQ(Dword(e.value), saved[e.name].bytes) << e.name;
    EXPECT_EQ(std::string("trace.txt") + '\0', saved["Log File"].bytes);
}
