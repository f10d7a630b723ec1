#pragma once

#include "foundation/Array.h"
#include "foundation/OutOfMemory.h"

#include <cstdint>
#include <new>

// Counted handle to a heap object. The block {refs, object} owns the
// object: the last handle released deletes both. Counts are plain
// integers; a handle is used by one thread at a time.
template <typename T>
class SharedRef {
public:
    SharedRef() = default;
    explicit SharedRef(T* object)
    {
        if (object == nullptr)
            return;
        block = new (std::nothrow) Block{1, object};
        if (block == nullptr)
            outOfMemory("handle block");
    }
    SharedRef(const SharedRef& other) : block(other.block) { retain(); }
    SharedRef(SharedRef&& other) noexcept : block(other.block) { other.block = nullptr; }
    ~SharedRef() { release(); }

    SharedRef& operator=(const SharedRef& other)
    {
        if (other.block == block)
            return *this;
        Block* old = block;
        block = other.block;
        retain();
        drop(old);
        return *this;
    }

    // Hands the count over: arrays shift handles without touching counts.
    SharedRef& operator=(SharedRef&& other) noexcept
    {
        if (&other == this)
            return *this;
        Block* old = block;
        block = other.block;
        other.block = nullptr;
        drop(old);
        return *this;
    }

    void release()
    {
        Block* old = block;
        block = nullptr;
        drop(old);
    }

    T* get() const { return block == nullptr ? nullptr : block->object; }
    T* operator->() const { return get(); }
    T& operator*() const { return *get(); }
    explicit operator bool() const { return get() != nullptr; }
    uint32_t refs() const { return block == nullptr ? 0 : block->refs; }

private:
    struct Block {
        uint32_t refs;
        T* object;
    };

    void retain()
    {
        if (block != nullptr)
            ++block->refs;
    }

    static void drop(Block* old)
    {
        if (old == nullptr || --old->refs != 0)
            return;
        delete old->object;
        delete old;
    }

    Block* block = nullptr;
};

template <typename T>
using SharedRefArray = Array<SharedRef<T>>;
