// The Windows builds have no exception support: an allocation failure, the
// only thing that could throw, ends the process at once instead of pulling in
// the unwinding machinery.
#include <cstddef>
#include <cstdlib>
#include <new>

void* operator new(std::size_t size)
{
    void* block = std::malloc(size != 0 ? size : 1);
    if (block == nullptr) {
        std::abort();
    }
    return block;
}

void operator delete(void* block) noexcept
{
    std::free(block);
}

void operator delete(void* block, std::size_t /*size*/) noexcept
{
    std::free(block);
}

// Replaces the library's own throwing helpers, which would pull in unwinding.
namespace std { // NOLINT(cert-dcl58-cpp)

void __throw_bad_alloc()
{
    std::abort();
}

void __throw_bad_array_new_length()
{
    std::abort();
}

void __throw_length_error(const char* /*what*/)
{
    std::abort();
}

} // namespace std
