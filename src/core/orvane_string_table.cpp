// String tables: one copy of each distinct string, kept in chained storage blocks.
#include <new>

#include "core/orvane_log.h"
#include "core/orvane_ordered_tree.h"
#include "core/orvane_string.h"

namespace {

struct StringLess {
    bool operator()(const void* a, const void* b) const {
        return OrvaneStringDifference(static_cast<const char*>(a), static_cast<const char*>(b)) < 0;
    }
};

struct StorageBlock {
    char* start;
    char* nextFree;
    char* end;
    StorageBlock* next;
};

constexpr int32_t kBlockSize = 4000;

}  // namespace

struct orvane_string_table {
    orvane::OrderedTree<StringLess> tree;
    StorageBlock* current = nullptr;  // the block being filled
    StorageBlock* blocks = nullptr;   // every block, for release
    int32_t blockSize = kBlockSize;
};

namespace {

StorageBlock* NewBlock(orvane_string_table* table, size_t bytes) {
    StorageBlock* block = nullptr;
    char* storage = nullptr;
    orvane::AggregateAllocate(&block, sizeof(StorageBlock));
    orvane::AggregateAllocate(&storage, bytes);
    if (ORVANE_AGGREGATE_END() == nullptr) return nullptr;
    block->start = block->nextFree = storage;
    block->end = storage + bytes;
    block->next = table->blocks;
    table->blocks = block;
    return block;
}

}  // namespace

extern "C" {

ORVANE_API orvane_string_table* OrvaneNewStringTable(void) {
    void* memory = ORVANE_ALLOCATE(alignof(orvane_string_table), sizeof(orvane_string_table));
    return memory ? new (memory) orvane_string_table : nullptr;
}

ORVANE_API void OrvaneFreeStringTable(orvane_string_table* Table) {
    if (Table == nullptr) return;
    while (Table->blocks) {
        StorageBlock* next = Table->blocks->next;
        ORVANE_DEALLOCATE(Table->blocks);
        Table->blocks = next;
    }
    Table->~orvane_string_table();
    ORVANE_DEALLOCATE(Table);
}

ORVANE_API char* OrvaneMapString(orvane_string_table* Table, const char* String) {
    if (Table == nullptr || String == nullptr) return nullptr;
    if (auto* node = Table->tree.Find(String)) return static_cast<char*>(node->value);
    size_t needed = size_t(orvane::StringLength(String)) + 1;
    size_t blockSize = Table->blockSize > 0 ? size_t(Table->blockSize) : size_t(kBlockSize);
    StorageBlock* block;
    if (needed > blockSize) {
        // Strings longer than a block get a block of their own; the current block stays.
        block = NewBlock(Table, needed);
        if (block && Table->current == nullptr) Table->current = block;
    } else {
        block = Table->current;
        if (block == nullptr || size_t(block->end - block->nextFree) < needed) {
            block = NewBlock(Table, blockSize);
            if (block) Table->current = block;
        }
    }
    if (block == nullptr) return nullptr;
    char* copy = block->nextFree;
    orvane::Copy(needed, String, copy);
    block->nextFree += needed;
    if (Table->tree.Insert(copy, copy) == nullptr) return nullptr;
    return copy;
}

}  // extern "C"
