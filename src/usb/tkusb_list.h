// tkusb_list: a singly linked list of element pointers with an 8-bit count, so at most 255
// elements. The registry (device objects) and the report tables (report_entry) use it.
#pragma once

#include <cstdint>
#include <new>

namespace kv4 {

template <typename T>
class tkusb_list {
public:
    static constexpr uint8_t max_count = 255;

    struct node {
        T *element;
        node *next;
    };

    tkusb_list() = default;
    tkusb_list(const tkusb_list &) = delete;
    tkusb_list &operator=(const tkusb_list &) = delete;
    ~tkusb_list() { drop_nodes(); }

    // Links element after the tail. False, and nothing changes, when the list is full (the count
    // never wraps) or the node cannot be allocated.
    bool append(T *element) noexcept
    {
        if (count_ == max_count)
            return false;
        node *added = new (std::nothrow) node{element, nullptr};
        if (!added)
            return false;
        if (tail_)
            tail_->next = added;
        else
            head_ = added;
        tail_ = added;
        ++count_;
        return true;
    }

    // The element reached by following position links from the head; null past the end.
    T *at(uint8_t position) const noexcept
    {
        node *walk = head_;
        for (uint8_t i = 0; walk && i < position; ++i)
            walk = walk->next;
        return walk ? walk->element : nullptr;
    }

    // Deletes every element, then frees the nodes (for lists that own their elements).
    void clear() noexcept
    {
        for (node *walk = head_; walk; walk = walk->next)
            delete walk->element;
        drop_nodes();
    }

    // Frees the nodes without touching the elements (for lists that do not own them).
    void drop_nodes() noexcept
    {
        while (head_) {
            node *next = head_->next;
            delete head_;
            head_ = next;
            --count_;
        }
        tail_ = nullptr;
    }

    const node *head() const noexcept { return head_; }
    uint8_t count() const noexcept { return count_; }
    bool empty() const noexcept { return count_ == 0; }

    // Walks the elements in list order: for (T *element : list).
    struct iterator {
        const node *at;
        T *operator*() const noexcept { return at->element; }
        iterator &operator++() noexcept
        {
            at = at->next;
            return *this;
        }
        bool operator!=(const iterator &other) const noexcept { return at != other.at; }
    };
    iterator begin() const noexcept { return {head_}; }
    iterator end() const noexcept { return {nullptr}; }

private:
    node *head_ = nullptr;
    node *tail_ = nullptr;
    uint8_t count_ = 0;
};

} // namespace kv4
