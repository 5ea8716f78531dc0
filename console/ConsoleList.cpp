#include "console/ConsoleList.h"

#include <QListWidget>
#include <algorithm>
#include <vector>


namespace {

// The board's bytes as the list shows them; the saved file keeps them as received.
QString Shown(const std::string& bytes) { return QString::fromLocal8Bit(bytes.data(), static_cast<qsizetype>(bytes.size())); }

}  // namespace

ConsoleList::ConsoleList(QListWidget& l) : list(l) {}

void ConsoleList::OnRxBytes(const uint8_t* bytes, size_t n) {
    lines.Take(bytes, n);

    // Items before the last one never change; the last one may have grown, and new
    // ones may follow it.
    const auto& all = lines.Lines();
    const int shown = list.count();
    if (shown > 0 && static_cast<size_t>(shown) <= all.size())
        list.item(shown - 1)->setText(Shown(all[static_cast<size_t>(shown) - 1]));
    for (size_t i = static_cast<size_t>(shown); i < all.size(); ++i)
        list.addItem(Shown(all[i]));
    if (n != 0 && list.count() > 0)
        list.setCurrentRow(list.count() - 1);  // which scrolls it into view
}

void ConsoleList::OnClear() {
    list.clear();
    lines.Clear();
}
