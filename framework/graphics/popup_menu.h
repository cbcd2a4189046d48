#pragma once

// IPopupMenu: the items of a popup menu (text, checked, disabled, separator), the item chosen, and an
// optional function run with the menu when it closes.

#include <functional>
#include <string>
#include <vector>

namespace iplug::igraphics {

class IPopupMenu {
public:
    struct Item {
        std::string text;
        bool enabled = true;
        bool checked = false;
        bool separator = false;
        int tag = -1;
    };

    IPopupMenu() = default;
    explicit IPopupMenu(std::vector<std::string> texts, int checkedIndex = -1);

    Item& AddItem(std::string text, int tag = -1);
    void AddSeparator();
    void Clear();
    int NItems() const { return static_cast<int>(mItems.size()); }
    Item* GetItem(int index);
    const Item* GetItem(int index) const;
    const std::vector<Item>& Items() const { return mItems; }
    void CheckItem(int index, bool checked);
    // Checks index and unchecks every other item.
    void CheckItemAlone(int index);
    void SetItemEnabled(int index, bool enabled);

    // The item chosen when the menu closed, -1 while none is.
    int GetChosenItemIdx() const { return mChosen; }
    void SetChosenItemIdx(int index) { mChosen = index; }
    const Item* GetChosenItem() const { return GetItem(mChosen); }

    // Run when the menu closes: with this menu after a choice, with nullptr when it was dismissed.
    using MenuFunction = std::function<void(IPopupMenu* menu)>;
    void SetFunction(MenuFunction func) { mFunction = std::move(func); }
    const MenuFunction& GetFunction() const { return mFunction; }

    // An item that can be chosen (not a separator, enabled).
    bool IsSelectable(int index) const;

private:
    std::vector<Item> mItems;
    int mChosen = -1;
    MenuFunction mFunction;
};

} // namespace iplug::igraphics
