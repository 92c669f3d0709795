// Tensor: the one array type of the program, a dense 3-D block of elements.
//
// Element (x, y, z) lies at flat position x + y*size_x + z*size_x*size_y:
// x varies fastest. Floats carry images, activations, gradients and
// weights; the same layout also holds GradientCell (convolution cells) and
// one-byte flags (the dropout mask).
//
// An owning tensor frees its storage exactly once and copies deeply.
// A TensorView borrows another tensor's data pointer and extents and never
// frees anything; a layer's `input` is the only view in the program.
#pragma once

#include <cfloat>
#include <cstdint>

static_assert(FLT_EVAL_METHOD == 0,
              "single-precision expressions must be evaluated in single precision");

namespace tavelin {

struct Shape {
    int32_t x = 0, y = 0, z = 0;
};

template <typename T>
struct TensorOf {
    T* data = nullptr;
    int32_t size_x = 0;
    int32_t size_y = 0;
    int32_t size_z = 0;

    TensorOf() = default;
    // Storage is zero-filled (a GradientCell therefore starts as 0, 0).
    // A negative element count, or one whose byte size does not fit in
    // 32 bits, throws std::bad_alloc like any other failed allocation.
    TensorOf(int32_t sx, int32_t sy, int32_t sz);
    explicit TensorOf(Shape s) : TensorOf(s.x, s.y, s.z) {}
    TensorOf(const TensorOf& other);
    TensorOf(TensorOf&& other) noexcept;
    TensorOf& operator=(const TensorOf& other);
    TensorOf& operator=(TensorOf&& other) noexcept;
    ~TensorOf();

    int32_t count() const { return size_x * size_y * size_z; }
    Shape shape() const { return {size_x, size_y, size_z}; }

    T& operator()(int32_t x, int32_t y, int32_t z) {
        return data[x + y * size_x + z * size_x * size_y];
    }
    const T& operator()(int32_t x, int32_t y, int32_t z) const {
        return data[x + y * size_x + z * size_x * size_y];
    }
    T& operator[](int32_t i) { return data[i]; }
    const T& operator[](int32_t i) const { return data[i]; }
};

template <typename T>
struct TensorViewOf {
    const T* data = nullptr;
    int32_t size_x = 0;
    int32_t size_y = 0;
    int32_t size_z = 0;

    int32_t count() const { return size_x * size_y * size_z; }
    Shape shape() const { return {size_x, size_y, size_z}; }
    const T& operator()(int32_t x, int32_t y, int32_t z) const {
        return data[x + y * size_x + z * size_x * size_y];
    }
    const T& operator[](int32_t i) const { return data[i]; }
};

struct GradientCell;

using Tensor = TensorOf<float>;
using TensorView = TensorViewOf<float>;
using CellTensor = TensorOf<GradientCell>;
using MaskTensor = TensorOf<uint8_t>;

// The view takes over `of`'s data pointer and extents; nothing is copied
// and whatever the view referred to before is left alone.
template <typename T>
void set_view(TensorViewOf<T>& view, const TensorOf<T>& of) {
    view.data = of.data;
    view.size_x = of.size_x;
    view.size_y = of.size_y;
    view.size_z = of.size_z;
}

// A view with extents and no storage: what a layer's `input` holds from
// construction until its first forward pass.
inline TensorView unset_view(Shape s) { return TensorView{nullptr, s.x, s.y, s.z}; }

// a - b, element by element over b's element count, into a copy of a.
Tensor difference(const Tensor& a, const Tensor& b);

}  // namespace tavelin

#include "core/gradient_cell.h"
