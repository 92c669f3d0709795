#include "layers/chain.h"

#include "layers/conv_layer.h"
#include "layers/dense_layer.h"
#include "layers/maxpool_layer.h"
#include "layers/relu_layer.h"

namespace tavelin {

namespace {

constexpr size_t chain_length = 4;

bool has_shape(const Tensor& t, Shape s) { return t.size_x == s.x && t.size_y == s.y && t.size_z == s.z; }

// The chain's layers were all given `kernels` when the chain was chosen,
// and still are: use_kernels on any of them ends the chain.
bool chained(LayerList layers, size_t count) {
    if (count != chain_length || layers[0]->chain == nullptr) return false;
    for (size_t i = 0; i < count; i++)
        if (layers[i]->kernels != layers[0]->chain) return false;
    return true;
}

}  // namespace

bool chain_fits(LayerList layers, size_t count) {
    if (count != chain_length) return false;
    const LayerKind kinds[chain_length] = {LayerKind::Conv, LayerKind::Relu, LayerKind::MaxPool, LayerKind::Dense};
    for (size_t i = 0; i < count; i++)
        if (layers[i]->kind != kinds[i]) return false;
    const auto& conv = static_cast<const ConvLayer&>(*layers[0]);
    const auto& pool = static_cast<const MaxPoolLayer&>(*layers[2]);
    const auto& dense = static_cast<const DenseLayer&>(*layers[3]);
    return conv.stride == 1 && conv.extent == 5 && conv.filters.size() == 8 && !conv.input_grads_read &&
           has_shape(conv.input_grads, {28, 28, 1}) && has_shape(conv.output, {24, 24, 8}) &&
           has_shape(layers[1]->input_grads, {24, 24, 8}) && has_shape(layers[1]->output, {24, 24, 8}) &&
           pool.stride == 2 && pool.extent == 2 && has_shape(pool.input_grads, {24, 24, 8}) &&
           has_shape(pool.output, {12, 12, 8}) && has_shape(dense.input_grads, {12, 12, 8}) &&
           has_shape(dense.output, {10, 1, 1});
}

void use_chain(LayerList layers, size_t count) {
    if (count == 0) return;
    layers[0]->chain = nullptr;
    if (!chain_fits(layers, count)) return;
    weights_changed(static_cast<DenseLayer&>(*layers[3]));  // they may have moved while it was not chosen
    const LayerKernels* level = layers[0]->kernels;
    if (level == nullptr || level->forward_chain == nullptr) return;
    for (size_t i = 0; i < count; i++)
        if (layers[i]->kernels != level) return;
    ConvScratch& s = static_cast<ConvLayer&>(*layers[0]).scratch;
    if (level->chain_leaves_maps && s.sums_by_position.count() == 0) {
        const Shape sums = layers[0]->output.shape(), pooled = layers[2]->output.shape();
        s.sums_by_position = Tensor(sums.z, sums.x * sums.y, 1);
        s.rectified_by_position = Tensor(sums.z, sums.x * sums.y, 1);
        s.pooled_by_position = Tensor(pooled.z, pooled.x * pooled.y, 1);
        s.pooled_grads_by_position = Tensor(pooled.z, pooled.x * pooled.y, 1);
    }
    layers[0]->chain = level;
}

bool forward_chain(LayerList layers, size_t count, const Tensor& image) {
    if (!chained(layers, count)) return false;
    layers[0]->chain->forward_chain(layers, image);
    return true;
}

bool backward_and_update_chain(LayerList layers, size_t count, const Tensor& next) {
    if (!chained(layers, count)) return false;
    layers[0]->chain->backward_chain(layers, next);
    return true;
}

}  // namespace tavelin
