#include "framework/graphics/popup_menu.h"

namespace iplug::igraphics {

IPopupMenu::IPopupMenu(std::vector<std::string> texts, int checkedIndex) {
    for (std::string& t : texts)
        AddItem(std::move(t));
    CheckItemAlone(checkedIndex);
}

IPopupMenu::Item& IPopupMenu::AddItem(std::string text, int tag) {
    mItems.push_back({std::move(text), true, false, false, tag});
    return mItems.back();
}

void IPopupMenu::AddSeparator() {
    Item item;
    item.separator = true;
    item.enabled = false;
    mItems.push_back(item);
}

void IPopupMenu::Clear() {
    mItems.clear();
    mChosen = -1;
}

IPopupMenu::Item* IPopupMenu::GetItem(int index) {
    return index >= 0 && index < NItems() ? &mItems[static_cast<std::size_t>(index)] : nullptr;
}

const IPopupMenu::Item* IPopupMenu::GetItem(int index) const {
    return index >= 0 && index < NItems() ? &mItems[static_cast<std::size_t>(index)] : nullptr;
}

void IPopupMenu::CheckItem(int index, bool checked) {
    if (Item* item = GetItem(index))
        item->checked = checked;
}

void IPopupMenu::CheckItemAlone(int index) {
    for (int i = 0; i < NItems(); ++i)
        mItems[static_cast<std::size_t>(i)].checked = i == index;
}

void IPopupMenu::SetItemEnabled(int index, bool enabled) {
    if (Item* item = GetItem(index))
        item->enabled = enabled;
}

bool IPopupMenu::IsSelectable(int index) const {
    const Item* item = GetItem(index);
    return item && !item->separator && item->enabled;
}

} // namespace iplug::igraphics
