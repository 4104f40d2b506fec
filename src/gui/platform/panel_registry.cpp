#include "panel_registry.h"

#include "gui/platform/messages.h"

#include <algorithm>

namespace korvante {

namespace {

struct Entry {
    QPointer<QWidget> window;
    int id;
};

std::vector<Entry> &entries()
{
    static std::vector<Entry> list;
    return list;
}

} // namespace

void RegisterPanel(int id, QWidget *window)
{
    auto &list = entries();
    auto it = std::find_if(list.begin(), list.end(), [id](const Entry &e) { return e.id == id; });
    if (it != list.end())
        list.erase(it);
    list.push_back({window, id});
}

QWidget *FindPanel(int id)
{
    auto &list = entries();
    auto it = std::find_if(list.begin(), list.end(), [id](const Entry &e) { return e.id == id; });
    if (it == list.end())
        return nullptr;
    if (!it->window) {
        list.erase(it);
        return nullptr;
    }
    return it->window.data();
}

bool PostToPanel(int id, int message, quintptr w)
{
    QWidget *window = FindPanel(id);
    return window && postMessage(window, message, w, 0);
}

size_t panelRegistrySize()
{
    return entries().size();
}

} // namespace korvante
