// A height-balanced (AVL) search tree of (key, value) entries whose nodes come from pooled
// blocks taken through the library's allocator. Shared by the pointer map and the string
// table; the order is given by a comparison of keys.
#ifndef ORVANE_ORDERED_TREE_H
#define ORVANE_ORDERED_TREE_H

#include "core/orvane_memory.h"

namespace orvane {

template <typename Less>
class OrderedTree {
public:
    struct Node {
        const void* key;
        void* value;
        Node* left;
        Node* right;
        int32_t height;
    };

    OrderedTree() = default;
    OrderedTree(const OrderedTree&) = delete;
    OrderedTree& operator=(const OrderedTree&) = delete;
    ~OrderedTree() { Clear(); }

    // Releases every node; the tree stays usable.
    void Clear() {
        while (pools_) {
            Pool* next = pools_->next;
            ORVANE_DEALLOCATE(pools_);
            pools_ = next;
        }
        root_ = nullptr;
        count_ = 0;
        freeInPool_ = 0;
    }

    // Reserves the first pool block; false when memory runs out.
    bool Reserve() { return freeInPool_ > 0 || NewPool(); }

    Node* Find(const void* key) const {
        Node* n = root_;
        while (n) {
            if (Less{}(key, n->key)) {
                n = n->left;
            } else if (Less{}(n->key, key)) {
                n = n->right;
            } else {
                return n;
            }
        }
        return nullptr;
    }

    // Inserts a new entry (after any equal ones); null when memory runs out.
    Node* Insert(const void* key, void* value) {
        Node* node = NewNode();
        if (node == nullptr) return nullptr;
        *node = Node{key, value, nullptr, nullptr, 1};
        root_ = Insert(root_, node);
        ++count_;
        return node;
    }

    int32_t Count() const { return count_; }

    // In key order; stops when visit returns false.
    template <typename Visitor>
    bool Visit(Visitor&& visit) const {
        return VisitNode(root_, visit);
    }

private:
    struct Pool {
        Pool* next;
        int32_t capacity;
        int32_t padding;
        Node nodes[1];
    };

    bool NewPool() {
        int32_t capacity = pools_ ? pools_->capacity * 2 : 32;
        if (capacity > 4096) capacity = 4096;
        size_t bytes = offsetof(Pool, nodes) + sizeof(Node) * size_t(capacity);
        auto* pool = static_cast<Pool*>(ORVANE_ALLOCATE(alignof(Pool), bytes));
        if (pool == nullptr) return false;
        pool->next = pools_;
        pool->capacity = capacity;
        pools_ = pool;
        freeInPool_ = capacity;
        return true;
    }

    Node* NewNode() {
        if (freeInPool_ == 0 && !NewPool()) return nullptr;
        return &pools_->nodes[pools_->capacity - freeInPool_--];
    }

    static int32_t Height(Node* n) { return n ? n->height : 0; }
    static void Update(Node* n) {
        int32_t l = Height(n->left), r = Height(n->right);
        n->height = (l > r ? l : r) + 1;
    }
    // Lifts n's child on the Up side into n's place (Up = left rotates right); returns it.
    template <Node* Node::*Up, Node* Node::*Down>
    static Node* Rotate(Node* n) {
        Node* child = n->*Up;
        n->*Up = child->*Down;
        child->*Down = n;
        Update(n);
        Update(child);
        return child;
    }
    static Node* RotateRight(Node* n) { return Rotate<&Node::left, &Node::right>(n); }
    static Node* RotateLeft(Node* n) { return Rotate<&Node::right, &Node::left>(n); }
    static Node* Balance(Node* n) {
        Update(n);
        int32_t balance = Height(n->left) - Height(n->right);
        if (balance > 1) {
            if (Height(n->left->left) < Height(n->left->right)) n->left = RotateLeft(n->left);
            return RotateRight(n);
        }
        if (balance < -1) {
            if (Height(n->right->right) < Height(n->right->left)) n->right = RotateRight(n->right);
            return RotateLeft(n);
        }
        return n;
    }
    static Node* Insert(Node* at, Node* node) {
        if (at == nullptr) return node;
        if (Less{}(node->key, at->key)) {
            at->left = Insert(at->left, node);
        } else {
            at->right = Insert(at->right, node);
        }
        return Balance(at);
    }
    template <typename Visitor>
    static bool VisitNode(Node* n, Visitor& visit) {
        if (n == nullptr) return true;
        return VisitNode(n->left, visit) && visit(n->key, n->value) && VisitNode(n->right, visit);
    }

    Node* root_ = nullptr;
    Pool* pools_ = nullptr;
    int32_t count_ = 0;
    int32_t freeInPool_ = 0;
};

}  // namespace orvane

#endif  // ORVANE_ORDERED_TREE_H
