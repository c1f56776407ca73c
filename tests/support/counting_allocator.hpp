// Counts the heap allocations of the global operator new family made on the
// calling thread while an allocation_scope is alive, and can make the Nth of
// them fail with std::bad_alloc. The test program replaces the global
// operators (counting_allocator.cpp), so allocations inside a statically
// linked library are seen too.
#ifndef WEXAL_TESTS_SUPPORT_COUNTING_ALLOCATOR_HPP
#define WEXAL_TESTS_SUPPORT_COUNTING_ALLOCATOR_HPP

#include <cstddef>

namespace wexal {
namespace test {

class allocation_scope {
public:
    allocation_scope() noexcept;
    ~allocation_scope();
    allocation_scope(const allocation_scope&) = delete;
    allocation_scope& operator=(const allocation_scope&) = delete;

    // Allocations made in this scope so far (failed ones included).
    std::size_t allocations() const noexcept { return allocations_; }
    // Blocks allocated in this scope and not yet released.
    std::size_t live() const noexcept { return live_count_; }
    // The size of the most recent allocation request.
    std::size_t last_size() const noexcept { return last_size_; }
    // Makes the nth allocation from now (1 = the next one) throw; 0 disarms.
    void fail_at(std::size_t nth) noexcept { fail_at_ = nth == 0 ? 0 : allocations_ + nth; }

    // Used by the replaced operators.
    static allocation_scope* current() noexcept;
    allocation_scope* enclosing() const noexcept { return previous_; }
    bool on_allocate(std::size_t size) noexcept;  // false: make this one fail
    void on_allocated(void* p) noexcept;
    bool on_release(void* p) noexcept;

private:
    static constexpr std::size_t tracked_size = 1024;
    allocation_scope* previous_;
    std::size_t allocations_ = 0;
    std::size_t fail_at_ = 0;
    std::size_t last_size_ = 0;
    std::size_t live_count_ = 0;
    // Slots past used_ were never used: opening a scope costs nothing.
    std::size_t used_ = 0;
    void* tracked_[tracked_size];
};

}  // namespace test
}  // namespace wexal

#endif  // WEXAL_TESTS_SUPPORT_COUNTING_ALLOCATOR_HPP
