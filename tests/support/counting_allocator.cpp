#include "counting_allocator.hpp"

#include <cstdlib>
#include <new>

namespace wexal {
namespace test {
namespace {

thread_local allocation_scope* active_scope = nullptr;

}  // namespace

allocation_scope::allocation_scope() noexcept : previous_(active_scope) { active_scope = this; }

allocation_scope::~allocation_scope() { active_scope = previous_; }

allocation_scope* allocation_scope::current() noexcept { return active_scope; }

bool allocation_scope::on_allocate(std::size_t size) noexcept {
    ++allocations_;
    last_size_ = size;
    return fail_at_ == 0 || allocations_ != fail_at_;
}

void allocation_scope::on_allocated(void* p) noexcept {
    std::size_t i = 0;
    while (i < used_ && tracked_[i] != nullptr) ++i;
    if (i == tracked_size) return;
    if (i == used_) ++used_;
    tracked_[i] = p;
    ++live_count_;
}

bool allocation_scope::on_release(void* p) noexcept {
    for (std::size_t i = 0; i < used_; ++i) {
        void*& slot = tracked_[i];
        if (slot == p) {
            slot = nullptr;
            --live_count_;
            return true;
        }
    }
    return false;
}

}  // namespace test
}  // namespace wexal

namespace {

void* counted_allocate(std::size_t size, bool nothrow) {
    wexal::test::allocation_scope* scope = wexal::test::allocation_scope::current();
    if (scope != nullptr && !scope->on_allocate(size)) {
        if (nothrow) return nullptr;
        throw std::bad_alloc();
    }
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) {
        if (nothrow) return nullptr;
        throw std::bad_alloc();
    }
    if (scope != nullptr) scope->on_allocated(p);
    return p;
}

void counted_release(void* p) noexcept {
    if (p == nullptr) return;
    // The block may come from an enclosing scope of this thread.
    for (auto* scope = wexal::test::allocation_scope::current(); scope != nullptr; scope = scope->enclosing()) {
        if (scope->on_release(p)) break;
    }
    std::free(p);
}

}  // namespace

void* operator new(std::size_t size) { return counted_allocate(size, false); }
void* operator new[](std::size_t size) { return counted_allocate(size, false); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return counted_allocate(size, true); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return counted_allocate(size, true); }
void operator delete(void* p) noexcept { counted_release(p); }
void operator delete[](void* p) noexcept { counted_release(p); }
void operator delete(void* p, std::size_t) noexcept { counted_release(p); }
void operator delete[](void* p, std::size_t) noexcept { counted_release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { counted_release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { counted_release(p); }
