#include "internal.h"
#include "stub.h"
#include "stub_window.h"

#include <windows.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>

namespace stub {
namespace {

const DWORD ErrorInvalidMenuHandle = 1401;
const DWORD ErrorInvalidWindowHandle = 1400;
const UINT TpmReturnCmd = 0x0100;
const DWORD NotFound = 0xFFFFFFFF;

struct ItemState {
    UINT flags;
    UINT_PTR id;
    std::string text;
    bool checked;
};

struct MenuState {
    bool popup;
    bool alive;
    std::vector<ItemState> items;
};

struct MenusState {
    std::vector<MenuState> menus;
    std::vector<UINT> choices;
    std::size_t nextChoice = 0;
    std::vector<TrackedMenu> tracked;
};

MenusState& Menus()
{
    static MenusState state;
    return state;
}

void ResetMenus()
{
    Menus() = MenusState();
}

[[maybe_unused]] const bool registered = RegisterReset(ResetMenus);

const std::uintptr_t MenuHandleBase = 0x3e0000;

std::string HandleText(const void* handle)
{
    return Hex(reinterpret_cast<std::uintptr_t>(handle));
}

MenuState* Find(HMENU menu)
{
    const std::uintptr_t index = reinterpret_cast<std::uintptr_t>(menu) - MenuHandleBase;
    std::vector<MenuState>& menus = Menus().menus;
    if (index >= menus.size() || !menus[index].alive) {
        return nullptr;
    }
    return &menus[index];
}

HMENU Create(bool popup)
{
    std::vector<MenuState>& menus = Menus().menus;
    menus.push_back(MenuState{popup, true, {}});
    return reinterpret_cast<HMENU>(MenuHandleBase + menus.size() - 1);
}

HMENU Submenu(const ItemState& item)
{
    return reinterpret_cast<HMENU>(item.id);
}

// Like Windows: the items in order, a submenu searched where its item stands.
ItemState* FindByCommand(HMENU menu, UINT id)
{
    MenuState* state = Find(menu);
    if (state == nullptr) {
        return nullptr;
    }
    for (ItemState& item : state->items) {
        if ((item.flags & MF_POPUP) != 0) {
            ItemState* inner = FindByCommand(Submenu(item), id);
            if (inner != nullptr) {
                return inner;
            }
        } else if (item.id == id) {
            return &item;
        }
    }
    return nullptr;
}

// A command the user can pick: neither a separator nor a submenu's item.
bool HasCommand(const Menu& menu, UINT id)
{
    for (const MenuItem& item : menu.items) {
        if ((item.flags & MF_POPUP) != 0) {
            if (!item.submenu.empty() && HasCommand(item.submenu[0], id)) {
                return true;
            }
        } else if ((item.flags & MF_SEPARATOR) == 0 && item.id == id) {
            return true;
        }
    }
    return false;
}

void DestroyTree(HMENU menu)
{
    MenuState* state = Find(menu);
    if (state == nullptr) {
        return;
    }
    state->alive = false;
    for (const ItemState& item : state->items) {
        if ((item.flags & MF_POPUP) != 0) {
            DestroyTree(Submenu(item));
        }
    }
}

} // namespace

Menu ReadMenu(HMENU menu)
{
    Menu tree = {nullptr, false, {}};
    const MenuState* state = Find(menu);
    if (state == nullptr) {
        return tree;
    }
    tree.handle = menu;
    tree.popup = state->popup;
    for (const ItemState& item : state->items) {
        MenuItem read = {item.flags, item.id, item.text, item.checked, {}};
        if ((item.flags & MF_POPUP) != 0) {
            read.submenu.push_back(ReadMenu(Submenu(item)));
        }
        tree.items.push_back(read);
    }
    return tree;
}

int LiveMenus()
{
    int live = 0;
    for (const MenuState& menu : Menus().menus) {
        live += menu.alive ? 1 : 0;
    }
    return live;
}

void ScriptMenuChoices(const std::vector<UINT>& choices)
{
    Menus().choices = choices;
    Menus().nextChoice = 0;
}

const std::vector<TrackedMenu>& TrackedMenus()
{
    return Menus().tracked;
}

} // namespace stub

HMENU WINAPI CreatePopupMenu(void)
{
    stub::Record("CreatePopupMenu");
    return stub::Create(true);
}

HMENU WINAPI CreateMenu(void)
{
    stub::Record("CreateMenu");
    return stub::Create(false);
}

BOOL WINAPI AppendMenuA(HMENU menu, UINT flags, UINT_PTR idNewItem, LPCSTR newItem)
{
    const bool separator = (flags & MF_SEPARATOR) != 0;
    stub::Record("AppendMenuA", stub::HandleText(menu) + " " + stub::Hex(flags) + " " +
                                    stub::Hex(idNewItem) + " " +
                                    stub::Text(separator ? nullptr : newItem));
    stub::MenuState* state = stub::Find(menu);
    const bool popup = (flags & MF_POPUP) != 0;
    if (state == nullptr ||
        (popup && stub::Find(reinterpret_cast<HMENU>(idNewItem)) == nullptr)) {
        stub::SetError(stub::ErrorInvalidMenuHandle);
        return FALSE;
    }
    const std::string text = separator || newItem == nullptr ? std::string() : newItem;
    state->items.push_back(stub::ItemState{flags, idNewItem, text, (flags & MF_CHECKED) != 0});
    return TRUE;
}

DWORD WINAPI CheckMenuItem(HMENU menu, UINT idCheckItem, UINT check)
{
    stub::Record("CheckMenuItem", stub::HandleText(menu) + " " + std::to_string(idCheckItem) +
                                      " " + stub::Hex(check));
    if (stub::Find(menu) == nullptr) {
        stub::SetError(stub::ErrorInvalidMenuHandle);
        return stub::NotFound;
    }
    stub::ItemState* item = nullptr;
    if ((check & MF_BYPOSITION) != 0) {
        // A position counts in this menu alone, a submenu's items not included.
        std::vector<stub::ItemState>& items = stub::Find(menu)->items;
        item = idCheckItem < items.size() ? &items[idCheckItem] : nullptr;
    } else {
        item = stub::FindByCommand(menu, idCheckItem);
    }
    if (item == nullptr) {
        return stub::NotFound;
    }
    const DWORD previous = item->checked ? MF_CHECKED : MF_UNCHECKED;
    item->checked = (check & MF_CHECKED) != 0;
    return previous;
}

BOOL WINAPI TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND window,
                           const RECT* rect)
{
    stub::Record("TrackPopupMenu", stub::HandleText(menu) + " " + stub::Hex(flags) + " " +
                                       std::to_string(x) + " " + std::to_string(y) + " " +
                                       std::to_string(reserved) + " " +
                                       stub::HandleText(window) + " " + stub::HandleText(rect));
    stub::MenusState& menus = stub::Menus();
    const stub::Menu tree = stub::ReadMenu(menu);
    if (tree.handle == nullptr) {
        stub::SetError(stub::ErrorInvalidMenuHandle);
        return FALSE;
    }
    bool ownerAlive = false;
    for (const stub::Window& known : stub::Windows()) {
        ownerAlive = ownerAlive || (known.handle == window && known.alive);
    }
    if (!ownerAlive) {
        stub::SetError(stub::ErrorInvalidWindowHandle);
        return FALSE;
    }
    UINT choice = 0;
    if (menus.nextChoice < menus.choices.size()) {
        choice = menus.choices[menus.nextChoice++];
    }
    if (choice != 0 && !stub::HasCommand(tree, choice)) {
        (void)std::fprintf(stderr,
                           "winstub: TrackPopupMenu: the scripted choice %u is not a command "
                           "of the menu\n",
                           choice);
        (void)std::fflush(stderr);
        std::abort();
    }
    menus.tracked.push_back(
        stub::TrackedMenu{menu, flags, x, y, reserved, window, rect != nullptr, tree, choice});
    if ((flags & stub::TpmReturnCmd) != 0) {
        return static_cast<BOOL>(choice);
    }
    // The real menu posts the command once it has closed.
    if (choice != 0) {
        stub::Post(window, WM_COMMAND, MAKEWPARAM(choice, 0), 0);
    }
    return TRUE;
}

BOOL WINAPI DestroyMenu(HMENU menu)
{
    stub::Record("DestroyMenu", stub::HandleText(menu));
    if (stub::Find(menu) == nullptr) {
        stub::SetError(stub::ErrorInvalidMenuHandle);
        return FALSE;
    }
    stub::DestroyTree(menu);
    return TRUE;
}
