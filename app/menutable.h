#pragma once

class MDIForm1;

// The menus and the toolbar as data. Both are built into actions in one place
// (MDIForm1), and a button runs the very handler of its menu item.
using Handler = void (MDIForm1::*)();

struct MenuItemDef
{
    const char *name;       // the item's control name
    const char16_t *caption; // "&" marks the mnemonic, "-" a separator
    const char *shortcut;   // in QKeySequence's portable text, or empty
    const char *parent;     // the menu it sits in; nullptr for the menu bar
    Handler handler;        // nullptr: a submenu, a separator, or an item that does nothing
};

enum class ButtonStyle { Push, Check, Separator, Placeholder };

struct ToolbarButtonDef
{
    ButtonStyle style;
    int image;              // 1-based in the image list, 0 for none
    const char *tooltip;
    const char *commandName; // what a screen reader calls it
    Handler handler;
};

extern const MenuItemDef kMenuItems[];
extern const int kMenuItemCount;

constexpr int kToolbarButtonCount = 29;
extern const ToolbarButtonDef kToolbarButtons[kToolbarButtonCount]; // button k is kToolbarButtons[k - 1]
