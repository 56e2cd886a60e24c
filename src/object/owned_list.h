#pragma once

// OwnedList holds the elements of a model collection in the collection's order and owns
// them; it hands out only pointers that never own. An element changes hands only in these
// ways: Insert takes it over from a handle and Release gives it back as one; HandOver lets go
// of an element deleted undoably, which the undo history owns from its message 1 on, and
// TakeBack owns it again when it is restored (message 2), since the history frees only objects
// that are still deleted; Forget lets go of an element that someone else is destroying
// (message 0). Whatever the list still holds when it dies is freed, each element after it
// has left the list, so no element ever sees itself in the list while it dies.

#include "core/check.h"
#include "object/q_reference_object.h"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

template <typename T>
class OwnedList {
public:
    using const_iterator = typename std::vector<T*>::const_iterator;

    // An empty list.
    OwnedList() = default;

    // Frees the elements still held, first to last (see the file comment). The element type
    // may be incomplete where the list is declared, so it is checked here.
    ~OwnedList() {
        static_assert(std::is_base_of_v<QReferenceObject, T>, "elements are model objects");
        FreeAll();
    }

    OwnedList(const OwnedList&) = delete;
    OwnedList& operator=(const OwnedList&) = delete;

    // Takes other's elements; other is left empty.
    OwnedList(OwnedList&& other) noexcept : items(std::exchange(other.items, {})) {}

    // Frees this list's elements, then takes other's; other is left empty.
    OwnedList& operator=(OwnedList&& other) noexcept {
        if (this != &other) {
            FreeAll();
            items = std::exchange(other.items, {});
        }
        return *this;
    }

    // The elements in order.
    const std::vector<T*>& Items() const { return items; }
    std::size_t Count() const { return items.size(); }
    bool IsEmpty() const { return items.empty(); }
    T* operator[](std::size_t index) const { return items[index]; }
    const_iterator begin() const { return items.begin(); }
    const_iterator end() const { return items.end(); }

    // The position of element; empty when the list does not hold it. Only the address is
    // compared, so element may be an object that is being destroyed.
    std::optional<std::size_t> Find(const QReferenceObject* element) const {
        const auto found = std::find_if(items.begin(), items.end(), [element](const T* item) {
            return static_cast<const QReferenceObject*>(item) == element;
        });
        if (found == items.end()) return std::nullopt;
        return static_cast<std::size_t>(found - items.begin());
    }

    bool Contains(const QReferenceObject* element) const { return Find(element).has_value(); }

    // Makes room for count elements, so that the insertions up to there cannot fail. Throws
    // std::bad_alloc.
    void Reserve(std::size_t count) { items.reserve(count); }

    // Takes element over and puts it at index (at most Count()); returns it. A null element,
    // one the list holds already or an auto-delete one (which owns itself) fails a check.
    // Throws std::bad_alloc, and element is then freed.
    T* Insert(std::size_t index, std::unique_ptr<T> element) {
        ORBELLE_CHECK(element != nullptr && index <= items.size());
        ORBELLE_CHECK(!element->IsAutoDelete() && !Contains(element.get()));
        items.insert(items.begin() + static_cast<std::ptrdiff_t>(index), element.get());
        return element.release();
    }

    T* Append(std::unique_ptr<T> element) { return Insert(items.size(), std::move(element)); }

    // Takes the element at index (below Count()) out and gives it to the caller.
    std::unique_ptr<T> Release(std::size_t index) {
        ORBELLE_CHECK(index < items.size());
        std::unique_ptr<T> element(items[index]);
        items.erase(items.begin() + static_cast<std::ptrdiff_t>(index));
        return element;
    }

    // Takes the elements from index first on out, in order, and gives them to the caller;
    // nothing when first is not below Count(). Throws std::bad_alloc, changing nothing.
    std::vector<std::unique_ptr<T>> ReleaseFrom(std::size_t first) {
        std::vector<std::unique_ptr<T>> released;
        if (first >= items.size()) return released;
        released.reserve(items.size() - first);
        for (std::size_t i = first; i < items.size(); ++i) released.emplace_back(items[i]);
        items.erase(items.begin() + static_cast<std::ptrdiff_t>(first), items.end());
        return released;
    }

    std::vector<std::unique_ptr<T>> ReleaseAll() { return ReleaseFrom(0); }

    // Lets go of element, which was deleted undoably (it is not alive) and belongs to the undo
    // history now, without freeing it. Returns its former position; empty when the list did
    // not hold it.
    std::optional<std::size_t> HandOver(const T* element) {
        const std::optional<std::size_t> at = Find(element);
        if (!at) return std::nullopt;
        ORBELLE_CHECK(!element->IsAlive());
        items.erase(items.begin() + static_cast<std::ptrdiff_t>(*at));
        return at;
    }

    // Owns element, restored from an undoable deletion (alive again), once more and puts it
    // at index (at most Count()). An element the list holds already fails a check. Throws
    // std::bad_alloc, and element stays where it was.
    void TakeBack(std::size_t index, T* element) {
        ORBELLE_CHECK(element != nullptr && element->IsAlive() && index <= items.size());
        ORBELLE_CHECK(!Contains(element));
        items.insert(items.begin() + static_cast<std::ptrdiff_t>(index), element);
    }

    // Lets go of element, which someone else is destroying, without freeing it. Only the
    // address is compared. Returns whether the list held it.
    bool Forget(const QReferenceObject* element) {
        const std::optional<std::size_t> at = Find(element);
        if (!at) return false;
        items.erase(items.begin() + static_cast<std::ptrdiff_t>(*at));
        return true;
    }

    // Sorts the elements from index first on with less, keeping the order of equal ones.
    template <typename Less>
    void StableSort(std::size_t first, Less less) {
        if (first >= items.size()) return;
        std::stable_sort(items.begin() + static_cast<std::ptrdiff_t>(first), items.end(), less);
    }

private:
    void FreeAll() {
        while (!items.empty()) {
            std::unique_ptr<T> element(items.front());
            items.erase(items.begin());
        }
    }

    std::vector<T*> items;  // each owned by the list
};
