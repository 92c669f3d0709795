#include "core/tensor.h"

#include <cstring>
#include <new>
#include <utility>

namespace tavelin {

namespace {

constexpr std::align_val_t storage_alignment{64};

// The byte size is element count times element size in 32-bit unsigned
// arithmetic; a count that is negative or whose bytes do not fit fails the
// way an exhausted heap would.
template <typename T>
T* allocate_elements(int32_t sx, int32_t sy, int32_t sz) {
    if (sx < 0 || sy < 0 || sz < 0) throw std::bad_alloc();
    const uint64_t count = uint64_t(sx) * uint64_t(sy) * uint64_t(sz);
    const uint64_t bytes = count * sizeof(T);
    if (count > INT32_MAX || bytes > UINT32_MAX) throw std::bad_alloc();
    void* p = ::operator new(size_t(bytes), storage_alignment);
    std::memset(p, 0, size_t(bytes));
    return static_cast<T*>(p);
}

template <typename T>
void free_elements(T* p) {
    if (p) ::operator delete(p, storage_alignment);
}

}  // namespace

template <typename T>
TensorOf<T>::TensorOf(int32_t sx, int32_t sy, int32_t sz)
    : data(allocate_elements<T>(sx, sy, sz)), size_x(sx), size_y(sy), size_z(sz) {}

template <typename T>
TensorOf<T>::TensorOf(const TensorOf& other)
    : data(allocate_elements<T>(other.size_x, other.size_y, other.size_z)),
      size_x(other.size_x),
      size_y(other.size_y),
      size_z(other.size_z) {
    if (count() > 0) std::memcpy(data, other.data, size_t(count()) * sizeof(T));
}

template <typename T>
TensorOf<T>::TensorOf(TensorOf&& other) noexcept
    : data(other.data), size_x(other.size_x), size_y(other.size_y), size_z(other.size_z) {
    other.data = nullptr;
    other.size_x = other.size_y = other.size_z = 0;
}

template <typename T>
TensorOf<T>& TensorOf<T>::operator=(const TensorOf& other) {
    if (this != &other) {
        TensorOf copy(other);
        *this = std::move(copy);
    }
    return *this;
}

template <typename T>
TensorOf<T>& TensorOf<T>::operator=(TensorOf&& other) noexcept {
    if (this != &other) {
        free_elements(data);
        data = other.data;
        size_x = other.size_x;
        size_y = other.size_y;
        size_z = other.size_z;
        other.data = nullptr;
        other.size_x = other.size_y = other.size_z = 0;
    }
    return *this;
}

template <typename T>
TensorOf<T>::~TensorOf() {
    free_elements(data);
}

template struct TensorOf<float>;
template struct TensorOf<GradientCell>;
template struct TensorOf<uint8_t>;

Tensor difference(const Tensor& a, const Tensor& b) {
    Tensor result(a);
    const int32_t n = b.count();
    for (int32_t i = 0; i < n; i++) result.data[i] = result.data[i] - b.data[i];
    return result;
}

}  // namespace tavelin
