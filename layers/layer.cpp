#include "layers/layer.h"

#include "layers/conv_layer.h"
#include "layers/dense_layer.h"
#include "layers/dropout_layer.h"
#include "layers/maxpool_layer.h"
#include "layers/relu_layer.h"

namespace tavelin {

// The tag is compared as unsigned: every value above Dropout, negative ones
// included, falls through to "do nothing".
static uint32_t tag(const Layer& layer) { return uint32_t(layer.kind); }

void forward(Layer& layer, const Tensor& in) {
    if (tag(layer) > uint32_t(LayerKind::Dropout)) return;
    set_view(layer.input, in);
    switch (layer.kind) {
        case LayerKind::Conv: forward_conv(static_cast<ConvLayer&>(layer)); break;
        case LayerKind::Dense: forward_dense(static_cast<DenseLayer&>(layer)); break;
        case LayerKind::Relu: forward_relu(static_cast<ReluLayer&>(layer)); break;
        case LayerKind::MaxPool: forward_maxpool(static_cast<MaxPoolLayer&>(layer)); break;
        case LayerKind::Dropout: forward_dropout(static_cast<DropoutLayer&>(layer)); break;
    }
}

void backward(Layer& layer, const Tensor& next) {
    switch (layer.kind) {
        case LayerKind::Conv: backward_conv(static_cast<ConvLayer&>(layer), next); break;
        case LayerKind::Dense: backward_dense(static_cast<DenseLayer&>(layer), next); break;
        case LayerKind::Relu: backward_relu(static_cast<ReluLayer&>(layer), next); break;
        case LayerKind::MaxPool: backward_maxpool(static_cast<MaxPoolLayer&>(layer), next); break;
        case LayerKind::Dropout: backward_dropout(static_cast<DropoutLayer&>(layer), next); break;
    }
}

void apply_gradients(Layer& layer) {
    switch (layer.kind) {
        case LayerKind::Conv: update_conv(static_cast<ConvLayer&>(layer)); break;
        case LayerKind::Dense: update_dense(static_cast<DenseLayer&>(layer)); break;
        case LayerKind::Relu:
        case LayerKind::MaxPool:
        case LayerKind::Dropout: break;
    }
}

}  // namespace tavelin
