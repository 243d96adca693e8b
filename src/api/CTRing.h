#pragma once
// A circular doubly linked ring with a moving cursor: a lookup rotates `head` onto the node it
// found, so repeated calls on one handle find it first. Not thread-safe by itself; the owner
// runs every operation under its lock.
#include <cstdint>
#include <utility>

namespace lumora {

template <typename T>
class CTRing {
public:
    CTRing() = default;
    CTRing(const CTRing&) = delete;
    CTRing& operator=(const CTRing&) = delete;
    virtual ~CTRing() {
        while (RemoveHead()) {
        }
    }

    struct Node {
        T value;
        Node* prev = nullptr;
        Node* next = nullptr;
    };

    // The new node goes in front of the old head and becomes the head; the last node stays last.
    void Insert(T value) {
        Node* node = new Node{std::move(value)};
        if (head_ == nullptr) {
            node->prev = node->next = node;
            count_ = 1;
        } else {
            ++count_;
            node->prev = head_->prev;
            node->next = head_;
            head_->prev->next = node;
            head_->prev = node;
        }
        head_ = node;
    }

    // Rotates the cursor onto the first node (from the cursor on) that matches. Visits every node
    // exactly once, judged by node identity, so equal keys can never hide other nodes.
    template <typename Match>
    bool Find(Match&& match) {
        if (head_ == nullptr) return false;
        Node* const start = head_;
        Node* node = start;
        do {
            if (match(node->value)) {
                head_ = node;
                return true;
            }
            node = node->next;
        } while (node != start);
        return false;
    }

    bool RemoveHead() {
        if (head_ == nullptr) return false;
        Node* node = head_;
        if (node->next == node) {
            count_ = 0;
            head_ = nullptr;
        } else {
            --count_;
            node->prev->next = node->next;
            node->next->prev = node->prev;
            head_ = node->next;
        }
        delete node;
        return true;
    }

    Node* Head() const { return head_; }
    int32_t Count() const { return count_; }

private:
    Node* head_ = nullptr;
    int32_t count_ = 0;
};

}  // namespace lumora
