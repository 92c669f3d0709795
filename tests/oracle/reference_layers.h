// The layers' loops written out plainly, one scalar operation at a time in
// the order the layers define, on the same layer records. They are the
// yardstick for the vectorised layers: keep them plain, never tune them.
#pragma once

#include <vector>

#include "layers/conv_layer.h"
#include "layers/dense_layer.h"
#include "layers/dropout_layer.h"
#include "layers/maxpool_layer.h"
#include "layers/relu_layer.h"

namespace tavelin::oracle {

int32_t reference_clamp_cell(float v, int32_t limit, bool upward);
OutputWindow reference_output_window(int32_t x, int32_t y, uint16_t stride, uint16_t extent,
                                     int32_t out_x, int32_t out_y, int32_t out_z);
float reference_sigmoid(float sum);

void reference_forward_conv(ConvLayer& layer);
void reference_backward_conv(ConvLayer& layer, const Tensor& next);
void reference_update_conv(ConvLayer& layer);

void reference_forward_relu(ReluLayer& layer);
void reference_backward_relu(ReluLayer& layer, const Tensor& next);

void reference_forward_maxpool(MaxPoolLayer& layer);
void reference_backward_maxpool(MaxPoolLayer& layer, const Tensor& next);

void reference_forward_dense(DenseLayer& layer);
void reference_backward_dense(DenseLayer& layer, const Tensor& next);
void reference_update_dense(DenseLayer& layer);

void reference_forward_dropout(DropoutLayer& layer);
void reference_backward_dropout(DropoutLayer& layer, const Tensor& next);

// Dispatch by kind, as the layers do: the input becomes a view first.
void reference_forward(Layer& layer, const Tensor& in);
void reference_backward(Layer& layer, const Tensor& next);
void reference_apply_gradients(Layer& layer);

// One training step over `layers` (input side first) with the reference
// operations; returns 100 * sum of |output - target| where target > 0.5.
float reference_train_step(std::vector<Layer*>& layers, const Tensor& image, const Tensor& target);

}  // namespace tavelin::oracle
